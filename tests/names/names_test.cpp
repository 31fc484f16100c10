// Category prefixes and the two extension lists (slots 60-62).
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "support/module_fixture.h"

namespace kqtest {
namespace {

using NamesTest = ModuleTest;

struct name_case {
    const char *name;
    int32_t expected;
};

TEST_F(NamesTest, CategoryPrefixes) {
    auto has_prefix = slot<name_has_category_prefix_fn>(SLOT_NAME_HAS_CATEGORY_PREFIX);
    const name_case cases[] = {
        // every category, plain and in other cases
        {"appl/Toolbar", 1}, {"APPL/Toolbar", 1}, {"spr/Tool", 1}, {"Game/Solitaire", 1}, {"JOKE/x", 1},
        {"dial/x", 1}, {"adspy/x", 1}, {"AdSpy/x", 1}, {"heur/Gen", 1}, {"HEURISTIC/Gen", 1},
        {"heuristic/Gen", 1}, {"pck/Upx", 1}, {"PCK/Upx", 1}, {"Hidden-Ext/Doc", 1}, {"HIDDEN-EXT/", 1},
        {"appl/", 1},
        // missing or misplaced slash, wrong prefixes
        {"appl", 0}, {"APP/x", 0}, {"applx/x", 0}, {"hidden-ext", 0}, {"hidden-ext.x", 0}, {"pc/x", 0},
        {"heur", 0}, {"heuristicx/x", 0}, {"xheur/Gen", 0}, {" appl/x", 0}, {"TR/Dropper", 0},
        {"a", 0}, {"", 0},
    };
    for (const name_case &c : cases) EXPECT_EQ(has_prefix(c.name), c.expected) << '"' << c.name << '"';
    EXPECT_EQ(has_prefix(nullptr), 0);
}

struct ext_case {
    const char *ext;
    int32_t executable;
    int32_t document;
};

TEST_F(NamesTest, ExtensionLists) {
    auto executable = slot<ext_in_executable_list_fn>(SLOT_EXT_IN_EXECUTABLE_LIST);
    auto document = slot<ext_in_document_list_fn>(SLOT_EXT_IN_DOCUMENT_LIST);
    const ext_case cases[] = {
        {".EXE", 1, 0}, {".COM", 1, 0}, {".SYS", 1, 0}, {".CPL", 1, 0}, {".SCR", 1, 0},
        {".BAT", 1, 1}, {".PIF", 1, 1}, {".LNK", 1, 1}, {".VBS", 1, 1}, {".CMD", 1, 1},
        {".AVI", 0, 1}, {".BMP", 0, 1}, {".DOC", 0, 1}, {".GIF", 0, 1}, {".JPG", 0, 1}, {".PNG", 0, 1},
        {".WMV", 0, 1}, {".MP3", 0, 1}, {".MPG", 0, 1}, {".PDF", 0, 1}, {".PPT", 0, 1}, {".RAR", 0, 1},
        {".RTF", 0, 1}, {".SWF", 0, 1}, {".TIF", 0, 1}, {".TXT", 0, 1}, {".WAV", 0, 1}, {".XLS", 0, 1},
        {".ZIP", 0, 1}, {".JPEG", 0, 1}, {".MPEG", 0, 1}, {".HTM", 0, 1}, {".HTML", 0, 1}, {".PHP", 0, 1},
        // case-sensitive and whole
        {".exe", 0, 0}, {".Exe", 0, 0}, {"EXE", 0, 0}, {".EXE ", 0, 0}, {".EXEC", 0, 0}, {".EX", 0, 0},
        {".JPE", 0, 0}, {".HTMLX", 0, 0}, {".pdf", 0, 0}, {".", 0, 0}, {"", 0, 0},
    };
    for (const ext_case &c : cases) {
        EXPECT_EQ(executable(c.ext), c.executable) << '"' << c.ext << '"';
        EXPECT_EQ(document(c.ext), c.document) << '"' << c.ext << '"';
    }
}

TEST_F(NamesTest, ExtensionCompareReadsNothingBehindTheArgument) {
    // ".HTM" ends at the last byte of a page whose successor is inaccessible;
    // comparing it with ".HTML" must stop at its NUL.
    const long page = sysconf(_SC_PAGESIZE);
    auto *area = static_cast<char *>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(area, MAP_FAILED);
    ASSERT_EQ(mprotect(area + page, page, PROT_NONE), 0);
    char *ext = area + page - 5;
    memcpy(ext, ".HTM", 5);
    EXPECT_EQ(slot<ext_in_document_list_fn>(SLOT_EXT_IN_DOCUMENT_LIST)(ext), 1);
    char *prefix_of_entry = area + page - 4;
    memcpy(prefix_of_entry, ".BA", 4);  // a prefix of ".BAT"
    EXPECT_EQ(slot<ext_in_executable_list_fn>(SLOT_EXT_IN_EXECUTABLE_LIST)(prefix_of_entry), 0);
    EXPECT_EQ(slot<ext_in_document_list_fn>(SLOT_EXT_IN_DOCUMENT_LIST)(prefix_of_entry), 0);
    munmap(area, 2 * page);
}

TEST_F(NamesTest, ToolNameAndExt) {
    std::string out;
    ASSERT_EQ(run_command(tool_command("name appl/Foo heur Hidden-Ext/Bar"), &out), 0);
    EXPECT_EQ(out,
              "appl/Foo: category prefix\n"
              "heur: no category prefix\n"
              "Hidden-Ext/Bar: category prefix\n");
    ASSERT_EQ(run_command(tool_command("ext .EXE .PIF .JPEG .exe"), &out), 0);
    EXPECT_EQ(out,
              ".EXE: executable\n"
              ".PIF: executable document\n"
              ".JPEG: document\n"
              ".exe: not listed\n");
    EXPECT_EQ(run_command(tool_command("name 2>/dev/null"), &out), 2);
    EXPECT_EQ(run_command(tool_command("ext 2>/dev/null"), &out), 2);
}

}  // namespace
}  // namespace kqtest
