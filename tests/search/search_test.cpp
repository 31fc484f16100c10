// The four search slots against the naive search on random regions of random
// texts; their argument checks and host memory.
#include "search/naive_search.h"
#include "support/fault_walks.h"
#include "support/module_fixture.h"

namespace kqtest {
namespace {

struct variant { const char *name; search_buffer_fn (*slot)(const helper_api_entry *); bool nocase, scrambled; };  // one type for all four

const variant kVariants[] = {
    {"nocase", kqhelp::slot<SLOT_SEARCH_BUFFER_NOCASE>, true, false},
    {"exact", kqhelp::slot<SLOT_SEARCH_BUFFER>, false, false},
    {"scrambled_nocase", kqhelp::slot<SLOT_SEARCH_BUFFER_SCRAMBLED_NOCASE>, true, true},
    {"scrambled", kqhelp::slot<SLOT_SEARCH_BUFFER_SCRAMBLED>, false, true},
};

class Search : public ModuleTest, public ::testing::WithParamInterface<variant> {
protected:
    // The slot under test, scrambling the plain pattern first for the scrambled slots.
    int32_t find(const std::string &text, std::string pattern, int32_t offset = 0, int32_t length = -1) {
        if (GetParam().scrambled)
            for (char &c : pattern) c = static_cast<char>(c ^ SEARCH_PATTERN_KEY);
        return raw(ctx(), text.data(), pattern.data(), int32_t(pattern.size()), offset, length < 0 ? int32_t(text.size()) : length);
    }
    int32_t raw(host_context *c, const void *text, const void *pattern, int32_t m, int32_t offset, int32_t length) {
        return GetParam().slot(api_)(c, instance(), static_cast<const uint8_t *>(text), static_cast<const uint8_t *>(pattern), m,
                                     offset, length);
    }
};

TEST_P(Search, AgreesWithNaiveSearch) {
    std::mt19937 rng(777 + int(GetParam().nocase) + 2 * int(GetParam().scrambled));
    for (int round = 0; round < 2000; round++) {
        const search_case c = random_case(rng, round);
        const int32_t n = int32_t(c.text.size()), offset = int32_t(rng() % (n / 8 + 1));
        const int32_t length = n - offset - int32_t(rng() % ((n - offset) / 8 + 1));
        ASSERT_EQ(find(c.text, c.pattern, offset, length), naive_search(c.pattern, c.text.substr(offset, length), GetParam().nocase))
            << "round " << round;
    }
    EXPECT_EQ(find("xxabcxabc", "abc", 3, 5), -1) << "the match sticks out of the region";
    EXPECT_EQ(find(std::string(300, 'z'), std::string(255, 'z')), 0);
}

// Each argument check alone gives -2, before any memory is asked for; every
// block goes back, and each failed request gives -9.
TEST_P(Search, BadArgumentsAndHostMemory) {
    const char text[] = "xxabcxabc", pattern[] = "abc";
    const std::string longest(256, 'z');
    EXPECT_EQ(raw(nullptr, text, pattern, 3, 0, 9), -2);
    for (auto [t, p, m, offset, length] : {std::tuple{text, pattern, 3, -1, 9}, {text, pattern, 3, 0, -1}, {text, pattern, 0, 0, 9},
                                           {text, longest.data(), 256, 0, 9}, {nullptr, pattern, 3, 0, 9}, {text, nullptr, 3, 0, 9}})
        EXPECT_EQ(raw(ctx(), t, p, m, offset, length), -2) << m;
    kqhost_hide_interface(host_, HOST_IFACE_SERVICES, 1);
    EXPECT_EQ(raw(ctx(), text, pattern, 3, 0, 9), -2);
    kqhost_hide_interface(host_, HOST_IFACE_SERVICES, 0);
    EXPECT_EQ(allocations(host_), 0u);
    for (const std::string x : {"abc", "abcdefghijklmnopqrstuvwxyz0123456789"}) {
        const uint64_t needed = expect_survives_alloc_failures(host_, [&] { return std::to_string(find("xx" + x, x)); });
        for (uint64_t nth = 1; nth <= needed; nth++) {
            kqhost_fail_alloc_at(host_, nth);
            EXPECT_EQ(find("xx" + x, x), -9) << nth;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Slots, Search, ::testing::ValuesIn(kVariants), [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kqtest
