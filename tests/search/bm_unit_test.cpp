// The Boyer-Moore tables against worked examples: a wrong shift can stay
// exact and only slow the search, which the slot-level comparisons miss.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "search/boyer_moore.h"

namespace {

struct table_row {
    const char *pattern;
    std::vector<int32_t> suffix_len, good_suffix;
    std::vector<std::pair<uint8_t, int32_t>> bad_char;  // every other byte shifts by the length
};

TEST(BoyerMooreTables, WorkedExamples) {
    const table_row rows[] = {
        {"GCAGAGAG", {1, 0, 0, 2, 0, 4, 0, 8}, {7, 7, 7, 2, 7, 4, 7, 1}, {{'A', 1}, {'C', 6}, {'G', 2}}},
        {"q", {1}, {1}, {}},
        {"aaaa", {1, 2, 3, 4}, {1, 2, 3, 4}, {{'a', 1}}},
    };
    for (const table_row &row : rows) {
        const std::string x = row.pattern;
        const auto m = static_cast<int32_t>(x.size());
        int32_t good_suffix[256], suffix_len[256], bad_char[256];
        kq::bm_good_suffix_table(reinterpret_cast<const uint8_t *>(x.data()), m, good_suffix, suffix_len);
        kq::bm_bad_char_table(reinterpret_cast<const uint8_t *>(x.data()), m, bad_char);
        EXPECT_EQ(std::vector<int32_t>(suffix_len, suffix_len + m), row.suffix_len) << x;
        EXPECT_EQ(std::vector<int32_t>(good_suffix, good_suffix + m), row.good_suffix) << x;
        for (int b = 0; b < 256; b++) {
            int32_t expected = m;
            for (auto [byte, shift] : row.bad_char)
                if (byte == b) expected = shift;
            EXPECT_EQ(bad_char[b], expected) << x << " byte " << b;
        }
    }
}

}  // namespace
