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

int32_t search(const std::string &x, const std::string &y) {
    tables t(x);
    return kq::bm_search(u8(x), static_cast<int32_t>(x.size()), u8(y), static_cast<int32_t>(y.size()), t.good_suffix,
                         t.bad_char);
}

int32_t search_nocase(const std::string &x, const std::string &y) {
    tables t(x);
    return kq::bm_search_nocase(u8(x), static_cast<int32_t>(x.size()), u8(y), static_cast<int32_t>(y.size()),
                                t.good_suffix, t.bad_char);
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

TEST(BoyerMooreTables, OneBytePattern) {
    tables t("q");
    EXPECT_EQ(t.good_suffix[0], 1);
    EXPECT_EQ(t.suffix_len[0], 1);
    for (int b = 0; b < 256; b++) EXPECT_EQ(t.bad_char[b], 1);
}

TEST(BoyerMooreTables, RepeatedBytes) {
    tables t("aaaa");
    EXPECT_EQ(std::vector<int32_t>(t.suffix_len, t.suffix_len + 4), (std::vector<int32_t>{1, 2, 3, 4}));
    // A mismatch at i means the text byte there is not 'a': the window can pass it.
    EXPECT_EQ(std::vector<int32_t>(t.good_suffix, t.good_suffix + 4), (std::vector<int32_t>{1, 2, 3, 4}));
    EXPECT_EQ(t.bad_char['a'], 1);
}

TEST(AsciiToLower, FoldsOnlyTheAsciiCapitals) {
    for (int b = 0; b < 256; b++) {
        uint8_t expected = (b >= 'A' && b <= 'Z') ? static_cast<uint8_t>(b + 0x20) : static_cast<uint8_t>(b);
        EXPECT_EQ(ascii_to_lower(static_cast<uint8_t>(b)), expected) << b;
    }
}

struct kernel_case {
    const char *pattern, *text;
    int32_t exact, nocase;
};

class KernelCases : public ::testing::TestWithParam<kernel_case> {};

TEST_P(KernelCases, FirstOccurrence) {
    const kernel_case &c = GetParam();
    EXPECT_EQ(search(c.pattern, c.text), c.exact);
    EXPECT_EQ(search_nocase(c.pattern, c.text), c.nocase);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, KernelCases,
    ::testing::Values(kernel_case{"abc", "xxabcabc", 2, 2}, kernel_case{"abc", "abc", 0, 0},
                      kernel_case{"abcd", "abc", -1, -1}, kernel_case{"q", "", -1, -1},
                      kernel_case{"q", "abcq", 3, 3}, kernel_case{"aaa", "baaab", 1, 1},
                      kernel_case{"mz", "xMZ", -1, 1}, kernel_case{"mz", "xmz", 1, 1},
                      kernel_case{"\xe4", "\xc4", -1, -1}, kernel_case{"`", "@", -1, -1},
                      kernel_case{"{", "[", -1, -1}, kernel_case{"GCAGAGAG", "gcatcgcagagagtatacagtacg", -1, -1},
                      kernel_case{"gcagagag", "GCATCGCAGAGAGTATACAGTACG", -1, 5}),
    [](const ::testing::TestParamInfo<kernel_case> &info) { return "case" + std::to_string(info.index); });

// Random texts over small alphabets (many partial matches) and the full byte
// range, patterns cut from the text or made up, folded or not.
TEST(BoyerMooreKernels, AgreeWithNaiveSearch) {
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
        ASSERT_EQ(search(pattern, text), naive_search(pattern, text, false)) << round;
        ASSERT_EQ(search_nocase(lowered, text), naive_search(lowered, text, true)) << round;
    }
}

// Texts where every window matches up to its first byte: the scan must stay
// linear in practice and still find the leftmost match.
TEST(BoyerMooreKernels, PeriodicTexts) {
    std::string text(5000, 'a');
    EXPECT_EQ(search(std::string(254, 'a') + "b", text), -1);
    EXPECT_EQ(search("b" + std::string(254, 'a'), text), -1);
    text += "b";
    EXPECT_EQ(search(std::string(254, 'a') + "b", text), 5000 - 254);
    EXPECT_EQ(search_nocase(std::string(255, 'a'), text), 0);
}

// Every window fits the pattern's first and last byte, so a search that only
// filters on them would verify each one: it must stay fast and exact.
TEST(BoyerMooreKernels, TextsFullOfCandidates) {
    const std::string pattern = std::string(100, 'a') + "b" + std::string(100, 'a');
    std::string text(60000, 'a');
    EXPECT_EQ(search(pattern, text), -1);
    text.replace(50000, pattern.size(), pattern);
    EXPECT_EQ(search(pattern, text), 50000);
    std::string mixed = text;
    for (size_t i = 1; i < mixed.size(); i += 3) mixed[i] = 'A';  // the 'b' at 50100 stays
    std::string lowered = pattern;
    EXPECT_EQ(search_nocase(lowered, mixed), naive_search(lowered, mixed, true));
    EXPECT_EQ(search_nocase(lowered, mixed), 50000);
}

}  // namespace
