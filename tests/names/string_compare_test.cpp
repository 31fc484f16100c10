// The scrambled compare, the two wildcard pattern matchers and xor_string_copy.
#include <string.h>

#include "support/module_fixture.h"

namespace kqtest {
namespace {

using StringCompareTest = ModuleTest;

bytes scrambled(bytes b, uint8_t key = 0x71) {
    for (uint8_t &x : b) x ^= key;
    return b;
}

TEST_F(StringCompareTest, ScrambledCompare) {
    auto compare = slot<scrambled_compare_fn>(SLOT_SCRAMBLED_COMPARE);
    const bytes plain = {'M', 'Z', 0x90, 0x00, 0x71, 0xFF};
    const bytes image = scrambled(plain);
    EXPECT_EQ(compare(image.data(), plain.data(), 6), 0);
    EXPECT_EQ(compare(image.data(), plain.data(), 1), 0);
    for (size_t i = 0; i < plain.size(); i++) {
        bytes other = plain;
        other[i] ^= 0x01;
        EXPECT_EQ(compare(image.data(), other.data(), 6), -1) << "difference at " << i;
        EXPECT_EQ(compare(image.data(), other.data(), static_cast<int32_t>(i)), 0) << "prefix before " << i;
    }
    // The plain side against itself is not equal: only the scrambled side is unscrambled.
    EXPECT_EQ(compare(plain.data(), plain.data(), 6), -1);
    // Nothing is read for an empty or negative length.
    EXPECT_EQ(compare(nullptr, nullptr, 0), 0);
    EXPECT_EQ(compare(nullptr, nullptr, -5), 0);
    EXPECT_EQ(compare(nullptr, nullptr, INT32_MIN), 0);
}

struct pattern_case {
    bytes pattern;  // plain: length, wildcard, bytes
    bytes data;
    int32_t expected;
};

void PrintTo(const pattern_case &c, std::ostream *os) {
    *os << "L=" << int(c.pattern[0]) << " W=" << int(c.pattern[1]) << " expects " << c.expected;
}

class PatternMatchTest : public ModuleTest, public ::testing::WithParamInterface<pattern_case> {};

TEST_P(PatternMatchTest, PlainAndScrambledAgree) {
    const pattern_case &c = GetParam();
    auto plain = slot<pattern_match_fn>(SLOT_PATTERN_MATCH);
    auto scrambled_match = slot<scrambled_pattern_match_fn>(SLOT_SCRAMBLED_PATTERN_MATCH);
    // Data exactly as long as the pattern needs: reading further shows under ASan.
    std::vector<uint8_t> data(c.data);
    EXPECT_EQ(plain(data.data(), c.pattern.data()), c.expected);
    const bytes hidden = scrambled(c.pattern);
    EXPECT_EQ(scrambled_match(data.data(), hidden.data()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, PatternMatchTest,
    ::testing::Values(
        pattern_case{{3, 0x3F, 0x4D, 0x3F, 0x5A}, {0x4D, 0x00, 0x5A}, 1},
        pattern_case{{3, 0x3F, 0x4D, 0x3F, 0x5A}, {0x4D, 0xFF, 0x5A}, 1},
        pattern_case{{3, 0x3F, 0x4D, 0x3F, 0x5A}, {0x4D, 0x00, 0x5B}, 0},
        pattern_case{{3, 0x3F, 0x4D, 0x3F, 0x5A}, {0x4E, 0x00, 0x5A}, 0},
        pattern_case{{3, 0x3F, 0x3F, 0x3F, 0x3F}, {1, 2, 3}, 1},             // all wildcards
        pattern_case{{2, 0x00, 'M', 'Z'}, {'M', 'Z'}, 1},                       // no wildcard in the bytes
        pattern_case{{2, 0x00, 'M', 'Z'}, {'M', 'z'}, 0},                       // case-sensitive
        pattern_case{{1, 0x71, 0x71}, {0x00}, 1},                               // wildcard equal to the key
        pattern_case{{1, 0x71, 0x00}, {0x00}, 1},
        pattern_case{{1, 0x71, 0x00}, {0x71}, 0},
        pattern_case{{0, 0x3F}, {}, 1}));                                       // empty pattern reads no data

TEST_F(StringCompareTest, LongestPattern) {
    bytes pattern = {0xFF, 0xEE};
    bytes data;
    for (int i = 0; i < 255; i++) {
        pattern.push_back(i % 7 ? static_cast<uint8_t>(i) : 0xEE);
        data.push_back(static_cast<uint8_t>(i));
    }
    EXPECT_EQ(slot<pattern_match_fn>(SLOT_PATTERN_MATCH)(data.data(), pattern.data()), 1);
    data[254] ^= 1;
    EXPECT_EQ(slot<pattern_match_fn>(SLOT_PATTERN_MATCH)(data.data(), pattern.data()), 0);
    EXPECT_EQ(slot<scrambled_pattern_match_fn>(SLOT_SCRAMBLED_PATTERN_MATCH)(data.data(), scrambled(pattern).data()), 0);
}

TEST_F(StringCompareTest, XorStringCopy) {
    auto copy = exported<xor_string_copy_fn>("xor_string_copy");
    ASSERT_NE(copy, nullptr);
    const uint8_t source[] = {'a', 'b', 0x2F};
    uint8_t target[5];
    memset(target, 0xCC, sizeof target);
    copy(source, target, 3);
    const uint8_t expected[] = {'a' ^ 0x2F, 'b' ^ 0x2F, 0x00, 0x00, 0xCC};
    EXPECT_EQ(memcmp(target, expected, sizeof target), 0);

    // Null pointers or n = 0 write nothing.
    memset(target, 0xCC, sizeof target);
    copy(source, target, 0);
    copy(nullptr, target, 3);
    copy(source, nullptr, 3);
    for (uint8_t b : target) EXPECT_EQ(b, 0xCC);
}

}  // namespace
}  // namespace kqtest
