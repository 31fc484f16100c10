// The Boyer-Moore tables against their definitions, computed naively: a
// wrong shift can keep the search exact and only slow it, which the
// slot-level comparisons miss. And every kernel path against the naive
// search: the slots only take this processor's best one.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "search/boyer_moore.h"
#include "search/naive_search.h"

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

const uint8_t *u8(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

// No vectors (short patterns go straight to the Boyer-Moore loop), SSE2 and
// AVX2 where the processor has them.
class KernelPaths : public ::testing::TestWithParam<kq::vector_unit> {
protected:
    void SetUp() override {
        if (GetParam() > kq::best_vector_unit()) GTEST_SKIP() << "this processor lacks the vector unit";
    }
    // The two stages as the slots run them; from_start: the Boyer-Moore loop alone.
    static int32_t search(const std::string &x, const std::string &y, bool nocase, kq::vector_unit unit,
                          bool from_start = false) {
        const int32_t m = int32_t(x.size()), n = int32_t(y.size());
        int32_t good_suffix[256], suffix_len[256], bad_char[256], at = 0;
        if (!from_start && kq::bm_scan(u8(x), m, u8(y), n, nocase, unit, &at)) return at;
        kq::bm_good_suffix_table(u8(x), m, good_suffix, suffix_len);
        kq::bm_bad_char_table(u8(x), m, bad_char);
        return kq::bm_search_from(u8(x), m, u8(y), n, good_suffix, bad_char, nocase, at);
    }
    void expect_naive(const std::string &x, const std::string &y, const std::string &what) {
        std::string lowered = x;
        for (char &c : lowered) c = char(kq::ascii_to_lower(uint8_t(c)));
        ASSERT_EQ(search(x, y, false, GetParam()), kqtest::naive_search(x, y, false)) << what;
        ASSERT_EQ(search(lowered, y, true, GetParam()), kqtest::naive_search(lowered, y, true)) << what;
        ASSERT_EQ(search(x, y, false, GetParam(), true), kqtest::naive_search(x, y, false)) << what;
    }
};

// Random texts over small alphabets and all bytes, patterns cut from the
// text or made up: lengths around the vector blocks and the pair scan.
TEST_P(KernelPaths, AgreeWithNaiveSearch) {
    std::mt19937 rng(12345);
    const std::string alphabets[] = {"ab", "aAbB@[`{", "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"};
    for (int round = 0; round < 3000; round++) {
        auto byte = [&]() -> char {
            const int kind = round % 4;
            return kind == 3 ? char(rng() & 0xFF) : alphabets[kind][rng() % alphabets[kind].size()];
        };
        std::string text(rng() % 300, '\0');
        for (char &c : text) c = byte();
        const size_t m = 1 + rng() % (round % 7 == 0 ? 255 : round % 7 == 1 ? 64 : 12);
        std::string pattern(m, '\0');
        if (text.size() >= m && rng() % 2)
            pattern = text.substr(rng() % (text.size() - m + 1), m);
        else
            for (char &c : pattern) c = byte();
        expect_naive(pattern, text, "round " + std::to_string(round));
    }
}

// Every window fits the pattern's first and last byte: the scans hand over
// to the Boyer-Moore loop (short patterns: candidate scan; long: pair scan).
TEST_P(KernelPaths, HandOverOnTextsFullOfCandidates) {
    for (size_t half : {12, 100}) {
        const std::string pattern = std::string(half, 'a') + "b" + std::string(half, 'a');
        expect_naive(pattern, std::string(60000, 'a'), "absent");
        expect_naive(pattern, std::string(50000, 'A') + pattern + std::string(9000, 'a'), "at 50000");
    }
}

std::string unit_name(const ::testing::TestParamInfo<kq::vector_unit> &info) {
    const char *names[] = {"none", "sse2", "avx2"};
    return names[int(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Units, KernelPaths,
                         ::testing::Values(kq::vector_unit::none, kq::vector_unit::sse2, kq::vector_unit::avx2),
                         unit_name);

}  // namespace
