// The four search slots through the loaded module: argument checks, region
// positions, pattern forms, host memory, and agreement with a naive search.
#include <string.h>

#include <random>
#include <string>

#include "search/naive_search.h"
#include "support/module_fixture.h"

namespace kqtest {
namespace {

constexpr uint8_t kKey = SEARCH_PATTERN_KEY;

struct variant {
    const char *name;
    int slot;
    bool nocase, scrambled;
    uint64_t allocs;  // host_alloc calls of a successful search
};

const variant kVariants[] = {
    {"nocase", SLOT_SEARCH_BUFFER_NOCASE, true, false, 4},
    {"exact", SLOT_SEARCH_BUFFER, false, false, 3},
    {"scrambled_nocase", SLOT_SEARCH_BUFFER_SCRAMBLED_NOCASE, true, true, 4},
    {"scrambled", SLOT_SEARCH_BUFFER_SCRAMBLED, false, true, 4},
};

std::string scramble(std::string s) {
    for (char &c : s) c = static_cast<char>(c ^ kKey);
    return s;
}

class SearchSlots : public ModuleTest, public ::testing::WithParamInterface<variant> {
protected:
    // Searches for the plain pattern, scrambling it first for the scrambled slots.
    int32_t find(const std::string &buffer, const std::string &plain, int32_t offset, int32_t length) {
        std::string passed = GetParam().scrambled ? scramble(plain) : plain;
        return raw(buffer.data(), passed.data(), static_cast<int32_t>(passed.size()), offset, length);
    }
    int32_t find(const std::string &buffer, const std::string &plain) {
        return find(buffer, plain, 0, static_cast<int32_t>(buffer.size()));
    }
    int32_t raw(const void *buffer, const void *pattern, int32_t m, int32_t offset, int32_t length) {
        return slot<search_buffer_fn>(GetParam().slot)(ctx(), instance(), static_cast<const uint8_t *>(buffer),
                                                       static_cast<const uint8_t *>(pattern), m, offset, length);
    }
};

TEST_P(SearchSlots, PositionsCountFromTheRegionStart) {
    EXPECT_EQ(find("xxabcxabc", "abc", 3, 6), 3);
    EXPECT_EQ(find("xxabcxabc", "abc", 0, 9), 2);
    EXPECT_EQ(find("xxabcxabc", "abc", 3, 5), -1);  // the second occurrence sticks out of the region
    EXPECT_EQ(find("abc", "abc", 0, 0), -1);
    EXPECT_EQ(find("ab", "abc"), -1);
}

TEST_P(SearchSlots, CaseFolding) {
    const bool nocase = GetParam().nocase;
    EXPECT_EQ(find("xmz", "MZ"), nocase ? 1 : -1);
    EXPECT_EQ(find("xMz", "MZ"), nocase ? 1 : -1);
    EXPECT_EQ(find("xMZ", "MZ"), 1);
    EXPECT_EQ(find("aab", "AB"), nocase ? 1 : -1);
    EXPECT_EQ(find("..aB", "Ab"), nocase ? 2 : -1);
    EXPECT_EQ(find("\xc4", "\xe4"), -1);  // only ASCII letters fold
    EXPECT_EQ(find("@[", "`{"), -1);
}

TEST_P(SearchSlots, BadArguments) {
    const char buffer[] = "xxabcxabc";
    const char pattern[] = "abc";
    auto fn = slot<search_buffer_fn>(GetParam().slot);
    auto b = reinterpret_cast<const uint8_t *>(buffer);
    auto p = reinterpret_cast<const uint8_t *>(pattern);
    EXPECT_EQ(fn(nullptr, instance(), b, p, 3, 0, 9), -2);
    EXPECT_EQ(raw(buffer, pattern, 3, -1, 9), -2);
    EXPECT_EQ(raw(buffer, pattern, 3, 0, -1), -2);
    EXPECT_EQ(raw(buffer, pattern, 0, 0, 9), -2);
    EXPECT_EQ(raw(buffer, pattern, -1, 0, 9), -2);
    EXPECT_EQ(raw(buffer, pattern, 256, 0, 9), -2);
    EXPECT_EQ(raw(nullptr, pattern, 3, 0, 9), -2);
    EXPECT_EQ(raw(buffer, nullptr, 3, 0, 9), -2);
    kqhost_hide_interface(host_, HOST_IFACE_SERVICES, 1);
    EXPECT_EQ(raw(buffer, pattern, 3, 0, 9), -2);
    kqhost_hide_interface(host_, HOST_IFACE_SERVICES, 0);
    EXPECT_EQ(calls(KQHOST_CALL_ALLOC), 0u) << "no memory is asked for before the arguments are checked";
    std::string longest(255, 'z');
    EXPECT_EQ(find(std::string(300, 'z'), longest), 0);
}

TEST_P(SearchSlots, HostMemoryIsReturned) {
    kqhost_reset_counters(host_);
    EXPECT_EQ(find("xxabcxabc", "abc"), 2);
    EXPECT_EQ(calls(KQHOST_CALL_ALLOC), GetParam().allocs);
    EXPECT_EQ(calls(KQHOST_CALL_FREE), GetParam().allocs);
    EXPECT_EQ(live_blocks(), 0u);
}

// Failing each request in turn: -9, no search, every other block returned.
TEST_P(SearchSlots, EachFailedRequestGivesNoMemory) {
    for (uint64_t nth = 1; nth <= GetParam().allocs; nth++) {
        kqhost_reset_counters(host_);
        kqhost_fail_alloc_at(host_, nth);
        EXPECT_EQ(find("xxabcxabc", "abc"), -9) << nth;
        // A failed table means no pattern copy for the variants that request it afterwards.
        const bool copy_skipped = nth <= 3 && GetParam().allocs == 4 && GetParam().slot != SLOT_SEARCH_BUFFER_SCRAMBLED;
        const uint64_t asked = copy_skipped ? 3 : GetParam().allocs;
        EXPECT_EQ(calls(KQHOST_CALL_ALLOC), asked) << nth;
        EXPECT_EQ(calls(KQHOST_CALL_FREE), asked - 1) << nth;
        EXPECT_EQ(live_blocks(), 0u) << nth;
    }
    kqhost_fail_alloc_at(host_, 0);
    EXPECT_EQ(find("xxabcxabc", "abc"), 2);
}

TEST_P(SearchSlots, AgreesWithNaiveSearch) {
    std::mt19937 rng(777 + GetParam().slot);
    const std::string letters = "aAbBzZ@[`{";
    for (int round = 0; round < 600; round++) {
        const bool binary = round % 3 == 0;
        auto byte = [&]() { return binary ? static_cast<char>(rng() & 0xFF) : letters[rng() % letters.size()]; };
        std::string buffer(rng() % 400, '\0');
        for (char &c : buffer) c = byte();
        const int32_t offset = buffer.empty() ? 0 : static_cast<int32_t>(rng() % buffer.size());
        const int32_t length = static_cast<int32_t>(rng() % (buffer.size() - offset + 1));
        size_t m = 1 + rng() % (round % 5 == 0 ? 255 : round % 5 == 1 ? 64 : 8);  // long ones take the pair scan
        std::string pattern(m, '\0');
        if (length >= static_cast<int32_t>(m) && rng() % 2) {
            pattern = buffer.substr(offset + rng() % (length - m + 1), m);
            if (GetParam().nocase)
                for (char &c : pattern) c = (rng() % 2) ? static_cast<char>(c ^ 0x20) : c;  // toggle case bits
        } else {
            for (char &c : pattern) c = byte();
        }
        const std::string region = buffer.substr(offset, length);
        ASSERT_EQ(find(buffer, pattern, offset, length), naive_search(pattern, region, GetParam().nocase))
            << "round " << round;
    }
    EXPECT_EQ(live_blocks(), 0u);
}

using SearchForms = ModuleTest;

TEST_F(SearchForms, ScrambledPatternIsSearchedAsGivenByThePlainSlot) {
    const std::string s = scramble("needle");
    const std::string buffer = "..needle.." + s;
    auto b = reinterpret_cast<const uint8_t *>(buffer.data());
    auto p = reinterpret_cast<const uint8_t *>(s.data());
    const auto n = static_cast<int32_t>(buffer.size());
    EXPECT_EQ(slot<search_buffer_fn>(SLOT_SEARCH_BUFFER)(ctx(), instance(), b, p, 6, 0, n), 10);
    EXPECT_EQ(slot<search_buffer_fn>(SLOT_SEARCH_BUFFER_SCRAMBLED)(ctx(), instance(), b, p, 6, 0, n), 2);
}

INSTANTIATE_TEST_SUITE_P(AllVariants, SearchSlots, ::testing::ValuesIn(kVariants),
                         [](const ::testing::TestParamInfo<variant> &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kqtest
