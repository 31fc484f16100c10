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

// A category in any case followed by '/'; extensions whole and case-sensitive, some on both lists.
TEST_F(ModuleTest, NameAndExtensionRules) {
    const struct { const char *text; int32_t prefix, executable, document; } rows[] = {{"appl/Toolbar", 1, 0, 0}, {"ADSPY/x", 1, 0, 0},    {"HEURISTIC/Gen", 1, 0, 0}, {"Hidden-Ext/Doc", 1, 0, 0},
                {"spr/", 1, 0, 0},         {"appl", 0, 0, 0},       {"applx/x", 0, 0, 0},       {"heuristicx/x", 0, 0, 0},
                {"xheur/Gen", 0, 0, 0},    {"TR/Dropper", 0, 0, 0}, {"", 0, 0, 0},              {".EXE", 0, 1, 0},
                {".CMD", 0, 1, 1},         {".HTML", 0, 0, 1},      {".exe", 0, 0, 0},          {".EXEC", 0, 0, 0},
                {".EX", 0, 0, 0},          {".HTMLX", 0, 0, 0}};
    for (const auto &row : rows) {
        EXPECT_EQ(call<SLOT_NAME_HAS_CATEGORY_PREFIX>(api_, row.text), row.prefix) << row.text;
        EXPECT_EQ(call<SLOT_EXT_IN_EXECUTABLE_LIST>(api_, row.text), row.executable) << row.text;
        EXPECT_EQ(call<SLOT_EXT_IN_DOCUMENT_LIST>(api_, row.text), row.document) << row.text;
    }
    EXPECT_EQ(call<SLOT_NAME_HAS_CATEGORY_PREFIX>(api_, nullptr) + call<SLOT_EXT_IN_DOCUMENT_LIST>(api_, nullptr), 0);
    // Nothing behind the NUL is read: ".HTM" and ".BA" end a page whose successor is inaccessible.
    const long page = sysconf(_SC_PAGESIZE);
    auto *area = static_cast<char *>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_TRUE(area != MAP_FAILED && mprotect(area + page, page, PROT_NONE) == 0);
    EXPECT_EQ(call<SLOT_EXT_IN_DOCUMENT_LIST>(api_, strcpy(area + page - 5, ".HTM")) +
                  2 * call<SLOT_EXT_IN_EXECUTABLE_LIST>(api_, strcpy(area + page - 4, ".BA")), 1);
    munmap(area, 2 * page);
}

// On random data with few distinct bytes (so that matches happen):
// scrambled_compare is a[i] ^ 0x71 == b[i] for i < n; a pattern is length,
// wildcard, bytes (all XOR 0x71 when scrambled), the wildcard matching anything.
TEST_F(ModuleTest, ComparisonsAgreeWithModels) {
    constexpr uint8_t kKey = 0x71;
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

// XOR 0x2F and a NUL after n bytes; null pointers or n = 0 write nothing.
TEST_F(ModuleTest, XorStringCopy) {
    auto copy = exported<xor_string_copy_fn>("xor_string_copy");
    const uint8_t source[] = {'a', 'b', 0x2F};
    uint8_t target[5] = {0xCC, 0xCC, 0xCC, 0xCC, 0xCC};
    copy(source, target, 2), copy(source, target, 0), copy(nullptr, target, 3), copy(source, nullptr, 3);
    EXPECT_EQ(bytes(target, target + 5), (bytes{'a' ^ 0x2F, 'b' ^ 0x2F, 0, 0xCC, 0xCC}));
}

}  // namespace
}  // namespace kqtest
