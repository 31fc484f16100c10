// The shared object itself: exports, needed libraries, architecture, and no
// code that runs at load or unload.
#include <set>
#include <sstream>

#include "support/module_fixture.h"

namespace kqtest {
namespace {

std::string inspect(const std::string &command) {
    std::string out;
    EXPECT_EQ(run_command(command + " " + KQHELP_MODULE_PATH + " 2>&1", &out), 0) << command << "\n" << out;
    return out;
}

TEST(BinaryTest, ExportsExactlyTheNamedFunctions) {
    std::istringstream lines(inspect("nm -D --defined-only --format=posix"));
    std::set<std::string> exported;
    for (std::string line; std::getline(lines, line);) exported.insert(line.substr(0, line.find(' ')));
    const std::set<std::string> expected = {
        "module_get_info", "module_get_api", "module_get_abi_version", "elf_get_encoding",
        "elf_get_section_by_physical_address", "elf_get_segment_by_physical_address", "helper_add_str_to_list",
        "helper_find_str_in_list", "helper_delete_str_list", "helper_add_2str_to_list", "helper_delete_2str_list",
        "helper_add_to_tree", "helper_find_in_tree", "helper_delete_tree", "xor_string_copy"};
    EXPECT_EQ(exported, expected);
}

TEST(BinaryTest, NeedsOnlyLibcAndZlibRunsNothingAtLoadIsVersionedAndOfThisArchitecture) {
    std::string dynamic = inspect("readelf -d");
    std::istringstream lines(dynamic);
    std::set<std::string> needed;
    for (std::string line; std::getline(lines, line);) {
        size_t at = line.find("Shared library: [");
        if (at != std::string::npos) needed.insert(line.substr(at + 17, line.find(']', at) - at - 17));
    }
#ifndef KQHELP_SANITIZED
    EXPECT_TRUE(needed.count("libz.so.1"));
    needed.erase("libz.so.1");
    needed.erase("libc.so.6");
    EXPECT_TRUE(needed.empty()) << "unexpected library: " << *needed.begin();
    for (const char *tag : {"(INIT)", "(FINI)", "(INIT_ARRAY)", "(FINI_ARRAY)", "(TEXTREL)"})
        EXPECT_EQ(dynamic.find(tag), std::string::npos) << tag;
#endif
    // Hosts link and load it by the name of its ABI version.
    EXPECT_NE(dynamic.find("Library soname: [libkqhelp.so." + std::to_string(KQHELP_ABI_VERSION) + "]"),
              std::string::npos);
    std::string header = inspect("readelf -h");
#if defined(__i386__)
    for (const char *fact : {"ELF32", "Intel 80386", "DYN"})
#else
    for (const char *fact : {"ELF64", "X86-64", "DYN"})
#endif
        EXPECT_NE(header.find(fact), std::string::npos) << fact;
}

}  // namespace
}  // namespace kqtest
