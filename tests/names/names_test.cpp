// Detection names, extension lists and the scrambled comparisons (slots 44,
// 45, 60-62, 71 and xor_string_copy): the rules as rows, the comparisons
// against literal models on random data.
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <random>

#include "support/module_fixture.h"

namespace kqtest {
namespace {

constexpr uint8_t kKey = 0x71;  // what the scrambled forms are XORed with

// The prefix rule: a category, in any case, followed by '/'.
TEST_F(ModuleTest, CategoryPrefixes) {
    const struct {
        const char *name;
        int32_t expected;
    } rows[] = {{"appl/Toolbar", 1}, {"APPL/Toolbar", 1}, {"AdSpy/x", 1},      {"heur/Gen", 1},    {"HEURISTIC/Gen", 1},
                {"pck/Upx", 1},      {"Hidden-Ext/Doc", 1}, {"spr/", 1},       {"joke/x", 1},      {"appl", 0},
                {"APP/x", 0},        {"applx/x", 0},      {"hidden-ext.x", 0}, {"heuristicx/x", 0}, {"xheur/Gen", 0},
                {" appl/x", 0},      {"TR/Dropper", 0},   {"a", 0},            {"", 0}};
    for (const auto &row : rows) EXPECT_EQ(call<SLOT_NAME_HAS_CATEGORY_PREFIX>(api_, row.name), row.expected) << row.name;
    EXPECT_EQ(call<SLOT_NAME_HAS_CATEGORY_PREFIX>(api_, nullptr), 0);
}

// Whole, case-sensitive matches; some types are on both lists.
TEST_F(ModuleTest, ExtensionLists) {
    const struct {
        const char *ext;
        int32_t executable, document;
    } rows[] = {{".EXE", 1, 0},  {".CMD", 1, 1},  {".BAT", 1, 1},   {".HTM", 0, 1},  {".HTML", 0, 1}, {".JPEG", 0, 1},
                {".exe", 0, 0},  {"EXE", 0, 0},   {".EXE ", 0, 0},  {".EXEC", 0, 0}, {".EX", 0, 0},   {".HTMLX", 0, 0},
                {".JPE", 0, 0},  {".", 0, 0},     {"", 0, 0}};
    for (const auto &row : rows) {
        EXPECT_EQ(call<SLOT_EXT_IN_EXECUTABLE_LIST>(api_, row.ext), row.executable) << row.ext;
        EXPECT_EQ(call<SLOT_EXT_IN_DOCUMENT_LIST>(api_, row.ext), row.document) << row.ext;
    }
    // Nothing behind the argument's NUL is read: ".HTM" and ".BA" end a page
    // whose successor is inaccessible.
    const long page = sysconf(_SC_PAGESIZE);
    auto *area = static_cast<char *>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(area, MAP_FAILED);
    ASSERT_EQ(mprotect(area + page, page, PROT_NONE), 0);
    EXPECT_EQ(call<SLOT_EXT_IN_DOCUMENT_LIST>(api_, static_cast<const char *>(memcpy(area + page - 5, ".HTM", 5))), 1);
    const char *prefix = static_cast<const char *>(memcpy(area + page - 4, ".BA", 4));
    EXPECT_EQ(call<SLOT_EXT_IN_EXECUTABLE_LIST>(api_, prefix) + call<SLOT_EXT_IN_DOCUMENT_LIST>(api_, prefix), 0);
    munmap(area, 2 * page);
}

// The comparisons against their literal rules, on random data with few
// distinct bytes (so that matches happen): scrambled_compare is a[i] ^ 0x71
// == b[i] for i < n; a pattern is length, wildcard, bytes (all XOR 0x71 when
// scrambled), a byte equal to the wildcard matching anything.
TEST_F(ModuleTest, ComparisonsAgreeWithModels) {
    std::mt19937 rng(9);
    for (int round = 0; round < 5000; round++) {
        const int n = int(rng() % 260) - 2;
        bytes a(260), b(260), pattern(2 + 255);
        for (size_t i = 0; i < a.size(); i++) {
            b[i] = uint8_t(rng() % 3);
            a[i] = rng() % 8 ? uint8_t(b[i] ^ kKey) : uint8_t(rng());
        }
        bool equal = true;
        for (int i = 0; i < n; i++) equal &= uint8_t(a[i] ^ kKey) == b[i];
        ASSERT_EQ(call<SLOT_SCRAMBLED_COMPARE>(api_, a.data(), b.data(), n), equal ? 0 : -1) << round;

        const uint8_t length = uint8_t(rng() % (round % 4 ? 8 : 256)), wildcard = uint8_t(rng() % 4);
        pattern[0] = length, pattern[1] = wildcard;
        bool matches = true;
        for (int i = 0; i < length; i++) {
            pattern[2 + i] = rng() % 4 ? b[i] : uint8_t(rng() % 4);
            matches &= pattern[2 + i] == wildcard || pattern[2 + i] == b[i];
        }
        bytes data(b.begin(), b.begin() + length);  // exactly as long as the pattern reads
        ASSERT_EQ(call<SLOT_PATTERN_MATCH>(api_, data.data(), pattern.data()), matches) << round;
        for (uint8_t &p : pattern) p ^= kKey;
        ASSERT_EQ(call<SLOT_SCRAMBLED_PATTERN_MATCH>(api_, data.data(), pattern.data()), matches) << round;
    }
    EXPECT_EQ(call<SLOT_SCRAMBLED_COMPARE>(api_, nullptr, nullptr, 0), 0) << "nothing is read for n <= 0";
}

TEST_F(ModuleTest, XorStringCopy) {
    auto copy = exported<xor_string_copy_fn>("xor_string_copy");
    ASSERT_NE(copy, nullptr);
    const uint8_t source[] = {'a', 'b', 0x2F};
    uint8_t target[5];
    memset(target, 0xCC, sizeof target);
    copy(source, target, 3);
    const uint8_t expected[] = {'a' ^ 0x2F, 'b' ^ 0x2F, 0x00, 0x00, 0xCC};
    EXPECT_EQ(memcmp(target, expected, sizeof target), 0);
    memset(target, 0xCC, sizeof target);
    copy(source, target, 0);
    copy(nullptr, target, 3);
    copy(source, nullptr, 3);
    EXPECT_EQ(target[0] & target[4], 0xCC) << "null pointers or n = 0 write nothing";
}

}  // namespace
}  // namespace kqtest
