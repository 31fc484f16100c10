// The Boyer-Moore tables against their definitions, computed naively: a wrong shift can keep the search exact and only
// slow it, which the comparisons with the naive search miss. And every kernel path against the naive search: the slots
// only take this processor's best one.
#include <gtest/gtest.h>

#include "search/boyer_moore.h"
#include "search/naive_search.h"

namespace {

TEST(BoyerMooreTables, AgreeWithDefinitions) {
    std::mt19937 rng(17);
    for (int round = 0; round < 3000; round++) {
        std::string x(1 + rng() % (round % 10 ? 12 : 255), 'a');
        for (char &c : x) c = "abc"[rng() % (round % 3 + 1)];
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

const uint8_t *u8(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

// No vectors, SSE2 and AVX2 where the processor has them; each search runs
// both stages as the slots do, and the Boyer-Moore loop alone.
class KernelPaths : public ::testing::TestWithParam<kq::vector_unit> {
protected:
    void SetUp() override {
        if (GetParam() > kq::best_vector_unit()) GTEST_SKIP() << "this processor lacks the vector unit";
    }
    void expect_naive(std::string x, const std::string &y) {
        for (int pass = 0; pass < 3; pass++) {
            const bool nocase = pass == 1, from_start = pass == 2;
            if (nocase)
                for (char &c : x) c = char(kq::ascii_to_lower(uint8_t(c)));
            const int32_t m = int32_t(x.size()), n = int32_t(y.size());
            int32_t good_suffix[256], suffix_len[256], bad_char[256], at = 0;
            if (from_start || !kq::bm_scan(u8(x), m, u8(y), n, nocase, GetParam(), &at)) {  // handed over at window at
                kq::bm_good_suffix_table(u8(x), m, good_suffix, suffix_len), kq::bm_bad_char_table(u8(x), m, bad_char);
                at = kq::bm_search_from(u8(x), m, u8(y), n, good_suffix, bad_char, nocase, at);
            }
            ASSERT_EQ(at, kqtest::naive_search(x, y, nocase)) << x << " in " << y.substr(0, 40);
        }
    }
};

TEST_P(KernelPaths, AgreeWithNaiveSearch) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 3000; round++) {
        const kqtest::search_case c = kqtest::random_case(rng, round);
        expect_naive(c.pattern, c.text);
    }
    // Every window fits the pattern's first and last byte: the scans hand over
    // to the Boyer-Moore loop (short patterns: candidate scan; long: pair scan).
    for (size_t half : {12, 100}) {
        const std::string pattern = std::string(half, 'a') + "b" + std::string(half, 'a');
        expect_naive(pattern, std::string(60000, 'a'));
        expect_naive(pattern, std::string(50000, 'A') + pattern + std::string(9000, 'a'));
    }
    expect_naive(std::string(254, 'a') + "b", std::string(5000, 'a') + "b");
    // Windows that fail verification: the pair scan moves on m - 1 when the last pair's hash stands nowhere else, and
    // m - 2 when it also starts the pattern.
    const std::string x = "a0123456789bcdefghijklmnopqrstuvwxyza";
    expect_naive(x, x.substr(0, 10) + "#" + x.substr(11) + x.substr(1));
    const std::string z = "ab0123456789cdefghijklmnopqrstuvwxab";
    expect_naive(z, z.substr(0, 10) + "#" + z.substr(11, 23) + z);
    expect_naive("\xe4`{", "x\xc4@[\xe4`{");
}

INSTANTIATE_TEST_SUITE_P(Units, KernelPaths, ::testing::Values(kq::vector_unit::none, kq::vector_unit::sse2, kq::vector_unit::avx2),
                         [](const auto &info) { return std::string(info.param == kq::vector_unit::none ? "none" : info.param == kq::vector_unit::sse2 ? "sse2" : "avx2"); });

}  // namespace
