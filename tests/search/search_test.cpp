// The four search slots against the naive search, on random texts and on
// texts built to defeat skipping; their argument checks and host memory.
#include <random>
#include <string>

#include "search/naive_search.h"
#include "support/fault_walks.h"
#include "support/module_fixture.h"

namespace kqtest {
namespace {

struct variant {
    const char *name;
    search_buffer_fn (*slot)(const helper_api_entry *);  // the four share one function type
    bool nocase, scrambled;
};

const variant kVariants[] = {
    {"nocase", kqhelp::slot<SLOT_SEARCH_BUFFER_NOCASE>, true, false},
    {"exact", kqhelp::slot<SLOT_SEARCH_BUFFER>, false, false},
    {"scrambled_nocase", kqhelp::slot<SLOT_SEARCH_BUFFER_SCRAMBLED_NOCASE>, true, true},
    {"scrambled", kqhelp::slot<SLOT_SEARCH_BUFFER_SCRAMBLED>, false, true},
};

class Search : public ModuleTest, public ::testing::WithParamInterface<variant> {
protected:
    // The slot under test, scrambling the plain pattern first for the scrambled slots.
    int32_t find(const std::string &buffer, std::string pattern, int32_t offset, int32_t length) {
        if (GetParam().scrambled)
            for (char &c : pattern) c = static_cast<char>(c ^ SEARCH_PATTERN_KEY);
        return raw(buffer.data(), pattern.data(), int32_t(pattern.size()), offset, length);
    }
    int32_t find(const std::string &buffer, const std::string &pattern) {
        return find(buffer, pattern, 0, int32_t(buffer.size()));
    }
    int32_t raw(const void *buffer, const void *pattern, int32_t m, int32_t offset, int32_t length) {
        return GetParam().slot(api_)(ctx(), instance(), static_cast<const uint8_t *>(buffer), static_cast<const uint8_t *>(pattern), m,
                  offset, length);
    }
    int32_t model(const std::string &buffer, const std::string &pattern, int32_t offset, int32_t length) {
        return naive_search(pattern, buffer.substr(offset, length), GetParam().nocase);
    }
};

// Random regions of random texts over small alphabets (many partial
// matches, letters that fold and neighbours that do not) and all bytes.
TEST_P(Search, AgreesWithNaiveSearch) {
    std::mt19937 rng(777 + int(GetParam().nocase) + 2 * int(GetParam().scrambled));
    const std::string alphabets[] = {"ab", "aAbB@[`{", "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"};
    for (int round = 0; round < 2000; round++) {
        auto byte = [&]() -> char {
            const int kind = round % 4;
            return kind == 3 ? char(rng() & 0xFF) : alphabets[kind][rng() % alphabets[kind].size()];
        };
        std::string buffer(rng() % 400, '\0');
        for (char &c : buffer) c = byte();
        const int32_t offset = buffer.empty() ? 0 : int32_t(rng() % buffer.size());
        const int32_t length = int32_t(rng() % (buffer.size() - offset + 1));
        const size_t m = 1 + rng() % (round % 5 == 0 ? 255 : round % 5 == 1 ? 64 : 8);  // long ones take the pair scan
        std::string pattern(m, '\0');
        if (length >= int32_t(m) && rng() % 2) {
            pattern = buffer.substr(offset + rng() % (length - m + 1), m);
            for (char &c : pattern)
                if (rng() % 2) c = char(c ^ 0x20);  // other case (or another byte, for non-letters)
        } else {
            for (char &c : pattern) c = byte();
        }
        ASSERT_EQ(find(buffer, pattern, offset, length), model(buffer, pattern, offset, length)) << "round " << round;
    }
}

// Texts where every window matches up to one byte, and where every window
// fits the first and last byte: the leftmost match, quickly.
TEST_P(Search, TextsFullOfCandidates) {
    const std::string periodic(5000, 'a'), long_pattern = std::string(100, 'a') + "b" + std::string(100, 'a');
    const struct {
        std::string text, pattern;
    } rows[] = {{periodic, std::string(254, 'a') + "b"},
                {periodic, "b" + std::string(254, 'a')},
                {periodic + "b", std::string(254, 'a') + "b"},
                {periodic + "b", std::string(255, 'A')},
                {std::string(60000, 'a'), long_pattern},
                {std::string(50000, 'a') + long_pattern + std::string(9000, 'A'), long_pattern},
                {"xxabcxabc", "abc"},
                {"x\xc4" "@[", "\xe4`{"}};
    for (const auto &row : rows)
        EXPECT_EQ(find(row.text, row.pattern), model(row.text, row.pattern, 0, int32_t(row.text.size())))
            << row.pattern.substr(0, 8);
    EXPECT_EQ(find("xxabcxabc", "abc", 3, 5), -1) << "the match sticks out of the region";
}

// Bad arguments give -2 before any memory is asked for.
TEST_P(Search, BadArguments) {
    const char buffer[] = "xxabcxabc", pattern[] = "abc";
    const std::string longest(256, 'z');
    EXPECT_EQ(GetParam().slot(api_)(nullptr, instance(), reinterpret_cast<const uint8_t *>(buffer),
                  reinterpret_cast<const uint8_t *>(pattern), 3, 0, 9), -2);
    EXPECT_EQ(raw(buffer, pattern, 3, -1, 9), -2);
    EXPECT_EQ(raw(buffer, pattern, 3, 0, -1), -2);
    EXPECT_EQ(raw(buffer, pattern, 0, 0, 9), -2);
    EXPECT_EQ(raw(buffer, longest.data(), 256, 0, 9), -2);
    EXPECT_EQ(raw(nullptr, pattern, 3, 0, 9), -2);
    EXPECT_EQ(raw(buffer, nullptr, 3, 0, 9), -2);
    kqhost_hide_interface(host_, HOST_IFACE_SERVICES, 1);
    EXPECT_EQ(raw(buffer, pattern, 3, 0, 9), -2);
    kqhost_hide_interface(host_, HOST_IFACE_SERVICES, 0);
    EXPECT_EQ(allocations(host_), 0u);
    EXPECT_EQ(find(std::string(300, 'z'), longest.substr(1)), 0);
}

// Every block goes back, and a failed request gives -9 (the shared walk
// checks that nothing stays behind).
TEST_P(Search, HostMemory) {
    for (const std::string pattern : {"abc", "abcdefghijklmnopqrstuvwxyz0123456789"}) {
        const std::string text = "xx" + pattern + "x" + pattern;
        const uint64_t needed = expect_survives_alloc_failures(host_, [&] { return std::to_string(find(text, pattern)); });
        for (uint64_t nth = 1; nth <= needed; nth++) {
            kqhost_fail_alloc_at(host_, nth);
            EXPECT_EQ(find(text, pattern), -9) << nth;
        }
        kqhost_fail_alloc_at(host_, 0);
        EXPECT_EQ(find(text, pattern), 2);
    }
}

INSTANTIATE_TEST_SUITE_P(Slots, Search, ::testing::ValuesIn(kVariants),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kqtest
