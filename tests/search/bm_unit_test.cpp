// The Boyer-Moore tables against the textbook example, and the kernels
// against a naive search.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "search/boyer_moore.h"
#include "search/naive_search.h"

namespace {

using kq::ascii_to_lower;
using kqtest::naive_search;

const uint8_t *u8(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

struct tables {
    int32_t good_suffix[256], suffix_len[256], bad_char[256];
    explicit tables(const std::string &x) {
        const auto m = static_cast<int32_t>(x.size());
        kq::bm_good_suffix_table(u8(x), m, good_suffix, suffix_len);
        kq::bm_bad_char_table(u8(x), m, bad_char);
    }
};

// The two stages as the slots run them, with the given vector unit.
int32_t search(const std::string &x, const std::string &y, bool nocase, kq::vector_unit unit) {
    tables t(x);
    const auto m = static_cast<int32_t>(x.size()), n = static_cast<int32_t>(y.size());
    int32_t at = 0;
    if (kq::bm_scan(u8(x), m, u8(y), n, nocase, unit, &at)) return at;
    return kq::bm_search_from(u8(x), m, u8(y), n, t.good_suffix, t.bad_char, nocase, at);
}

// The Boyer-Moore loop alone, from the first window.
int32_t bm_loop(const std::string &x, const std::string &y, bool nocase) {
    tables t(x);
    return kq::bm_search_from(u8(x), static_cast<int32_t>(x.size()), u8(y), static_cast<int32_t>(y.size()),
                              t.good_suffix, t.bad_char, nocase, 0);
}

TEST(BoyerMooreTables, TextbookPattern) {
    tables t("GCAGAGAG");
    EXPECT_EQ(std::vector<int32_t>(t.suffix_len, t.suffix_len + 8), (std::vector<int32_t>{1, 0, 0, 2, 0, 4, 0, 8}));
    EXPECT_EQ(std::vector<int32_t>(t.good_suffix, t.good_suffix + 8), (std::vector<int32_t>{7, 7, 7, 2, 7, 4, 7, 1}));
    for (int b = 0; b < 256; b++) {
        const int32_t expected = b == 'A' ? 1 : b == 'C' ? 6 : b == 'G' ? 2 : 8;
        EXPECT_EQ(t.bad_char[b], expected) << b;
    }
}

TEST(BoyerMooreTables, RepeatedBytes) {
    tables t("aaaa");
    EXPECT_EQ(std::vector<int32_t>(t.suffix_len, t.suffix_len + 4), (std::vector<int32_t>{1, 2, 3, 4}));
    // A mismatch at i means the text byte there is not 'a': the window can pass it.
    EXPECT_EQ(std::vector<int32_t>(t.good_suffix, t.good_suffix + 4), (std::vector<int32_t>{1, 2, 3, 4}));
    EXPECT_EQ(t.bad_char['a'], 1);
}

// Every path runs on this machine: no vectors (short patterns go straight
// to the Boyer-Moore loop), SSE2 and AVX2 where the processor has them.
class KernelPaths : public ::testing::TestWithParam<kq::vector_unit> {
protected:
    void SetUp() override {
        if (GetParam() > kq::best_vector_unit()) GTEST_SKIP() << "this processor lacks the vector unit";
    }
    int32_t exact(const std::string &x, const std::string &y) { return search(x, y, false, GetParam()); }
    int32_t nocase(const std::string &x, const std::string &y) { return search(x, y, true, GetParam()); }
};

std::string unit_name(const ::testing::TestParamInfo<kq::vector_unit> &info) {
    const char *names[] = {"none", "sse2", "avx2"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Units, KernelPaths,
                         ::testing::Values(kq::vector_unit::none, kq::vector_unit::sse2, kq::vector_unit::avx2),
                         unit_name);

struct kernel_case {
    const char *pattern, *text;
    int32_t exact, nocase;
};

TEST_P(KernelPaths, Edges) {
    const kernel_case cases[] = {
        {"abc", "xxabcabc", 2, 2}, {"abc", "abc", 0, 0}, {"abcd", "abc", -1, -1}, {"q", "", -1, -1},
        {"q", "abcq", 3, 3}, {"aaa", "baaab", 1, 1}, {"mz", "xMZ", -1, 1}, {"mz", "xmz", 1, 1},
        {"\xe4", "\xc4", -1, -1}, {"`", "@", -1, -1}, {"{", "[", -1, -1},
        {"GCAGAGAG", "gcatcgcagagagtatacagtacg", -1, -1}, {"gcagagag", "GCATCGCAGAGAGTATACAGTACG", -1, 5},
        // past the vector blocks: the last windows are checked one by one
        {"xyz", "0123456789abcdefghijklmnopqrstuvwxyzXYZ", 33, 33},
        {"xyz", "0123456789abcdefghijklmnopqrstuvwXYZ", -1, 33},
    };
    for (const kernel_case &c : cases) {
        EXPECT_EQ(exact(c.pattern, c.text), c.exact) << c.pattern << " in " << c.text;
        EXPECT_EQ(nocase(c.pattern, c.text), c.nocase) << c.pattern << " in " << c.text;
    }
}

// Random texts over small alphabets (many partial matches) and the full byte
// range, patterns cut from the text or made up, folded or not; the
// Boyer-Moore loop alone as well.
TEST_P(KernelPaths, AgreeWithNaiveSearch) {
    std::mt19937 rng(12345);
    const std::string alphabets[] = {"ab", "aAbB", "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ@[`{"};
    for (int round = 0; round < 4000; round++) {
        const int kind = round % 4;
        auto byte = [&]() -> char {
            if (kind == 3) return static_cast<char>(rng() & 0xFF);
            const std::string &a = alphabets[kind];
            return a[rng() % a.size()];
        };
        std::string text(rng() % 300, '\0');
        for (char &c : text) c = byte();
        size_t m = 1 + rng() % (round % 7 == 0 ? 255 : round % 7 == 1 ? 64 : 12);  // long ones take the pair scan
        std::string pattern(m, '\0');
        if (text.size() >= m && rng() % 2) {
            pattern = text.substr(rng() % (text.size() - m + 1), m);
        } else {
            for (char &c : pattern) c = byte();
        }
        std::string lowered = pattern;
        for (char &c : lowered) c = static_cast<char>(ascii_to_lower(static_cast<uint8_t>(c)));
        const int32_t expected = naive_search(pattern, text, false), expected_nocase = naive_search(lowered, text, true);
        ASSERT_EQ(exact(pattern, text), expected) << round;
        ASSERT_EQ(nocase(lowered, text), expected_nocase) << round;
        ASSERT_EQ(bm_loop(pattern, text, false), expected) << round;
        ASSERT_EQ(bm_loop(lowered, text, true), expected_nocase) << round;
    }
}

// Texts where every window matches up to its first byte: the scan must stay
// linear in practice and still find the leftmost match.
TEST_P(KernelPaths, PeriodicTexts) {
    std::string text(5000, 'a');
    EXPECT_EQ(exact(std::string(254, 'a') + "b", text), -1);
    EXPECT_EQ(exact("b" + std::string(254, 'a'), text), -1);
    EXPECT_EQ(exact(std::string(20, 'a') + "b", text), -1);
    text += "b";
    EXPECT_EQ(exact(std::string(254, 'a') + "b", text), 5000 - 254);
    EXPECT_EQ(exact(std::string(20, 'a') + "b", text), 5000 - 20);
    EXPECT_EQ(nocase(std::string(255, 'a'), text), 0);
}

// Every window fits the pattern's first and last byte, so a scan that only
// filters on them would verify each one: it hands over, and stays exact.
TEST_P(KernelPaths, TextsFullOfCandidates) {
    for (size_t half : {100, 12}) {
        const std::string pattern = std::string(half, 'a') + "b" + std::string(half, 'a');
        std::string text(60000, 'a');
        EXPECT_EQ(exact(pattern, text), -1);
        text.replace(50000, pattern.size(), pattern);
        EXPECT_EQ(exact(pattern, text), 50000);
        std::string mixed = text;
        for (size_t i = 1; i < mixed.size(); i += 3) mixed[i] = 'A';  // the 'b' stays
        EXPECT_EQ(nocase(pattern, mixed), naive_search(pattern, mixed, true));
        EXPECT_EQ(nocase(pattern, mixed), 50000);
    }
}

}  // namespace
