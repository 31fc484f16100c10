// The Boyer-Moore tables against their definitions, computed naively: a
// wrong shift can keep the search exact and only slow it, which the
// slot-level comparisons miss.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "search/boyer_moore.h"

namespace {

TEST(BoyerMooreTables, AgreeWithDefinitions) {
    std::mt19937 rng(17);
    for (int round = 0; round < 3000; round++) {
        std::string x(1 + rng() % (round % 10 ? 12 : 255), 'a');
        for (char &c : x) c = "abc"[rng() % (round % 3 + 1)];
        if (round == 0) x = "GCAGAGAG";  // the textbook example: 7 7 7 2 7 4 7 1
        const int32_t m = int32_t(x.size());
        int32_t good_suffix[256], suffix_len[256], bad_char[256];
        kq::bm_good_suffix_table(reinterpret_cast<const uint8_t *>(x.data()), m, good_suffix, suffix_len);
        kq::bm_bad_char_table(reinterpret_cast<const uint8_t *>(x.data()), m, bad_char);
        for (int32_t i = 0; i < m; i++) {
            int32_t common = 0;  // the longest common suffix of x[0..i] and x
            while (common <= i && x[i - common] == x[m - 1 - common]) common++;
            ASSERT_EQ(suffix_len[i], common) << x << " at " << i;
            // the least shift that keeps the matched x[i+1..] and brings another byte under x[i]
            int32_t s = 1;
            for (;; s++) {
                bool keeps = true;
                for (int32_t k = i + 1; k < m && keeps; k++) keeps = k - s < 0 || x[k - s] == x[k];
                if (keeps && (i - s < 0 || x[i - s] != x[i])) break;
            }
            ASSERT_EQ(good_suffix[i], s) << x << " at " << i;
        }
        for (int b = 0; b < 256; b++) {
            const size_t last = x.substr(0, m - 1).rfind(char(b));
            ASSERT_EQ(bad_char[b], last == std::string::npos ? m : m - 1 - int32_t(last)) << x << " byte " << b;
        }
    }
}

}  // namespace
