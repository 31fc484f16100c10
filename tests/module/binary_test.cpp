// The shared object itself: exports, needed libraries, architecture, and no
// code that runs at load or unload.
#include <regex>
#include <set>

#include "support/module_fixture.h"

namespace kqtest {
namespace {

std::string inspect(const std::string &command) {
    std::string out;
    EXPECT_EQ(run_command(command + " " + KQHELP_MODULE_PATH + " 2>&1", &out), 0) << command << "\n" << out;
    return out;
}

// The first group of every match of pattern in text.
std::set<std::string> all(const std::string &text, const char *pattern) {
    std::set<std::string> found;
    const std::regex re(pattern);
    for (std::sregex_iterator m(text.begin(), text.end(), re), end; m != end; ++m) found.insert((*m)[1]);
    return found;
}

TEST(BinaryTest, ExportsNeedsLoadCodeVersionAndArchitecture) {
    EXPECT_EQ(all(inspect("nm -D --defined-only --format=posix"), "(?:^|\n)([^ \n]+) "),
              (std::set<std::string>{"module_get_info", "module_get_api", "module_get_abi_version", "elf_get_encoding",
                                     "elf_get_section_by_physical_address", "elf_get_segment_by_physical_address",
                                     "helper_add_str_to_list", "helper_find_str_in_list", "helper_delete_str_list",
                                     "helper_add_2str_to_list", "helper_delete_2str_list", "helper_add_to_tree",
                                     "helper_find_in_tree", "helper_delete_tree", "xor_string_copy"}));
    const std::string dynamic = inspect("readelf -d"), header = inspect("readelf -h");
#ifndef KQHELP_SANITIZED
    EXPECT_EQ(all(dynamic, "Shared library: \\[([^\\]]+)\\]"), (std::set<std::string>{"libc.so.6", "libz.so.1"}));
    for (const char *tag : {"(INIT)", "(FINI)", "(INIT_ARRAY)", "(FINI_ARRAY)", "(TEXTREL)"})
        EXPECT_EQ(dynamic.find(tag), std::string::npos) << tag;
#endif
    // Hosts link and load it by the name of its ABI version.
    EXPECT_NE(dynamic.find("Library soname: [libkqhelp.so." + std::to_string(KQHELP_ABI_VERSION) + "]"), std::string::npos);
    for (const char *fact : sizeof(void *) == 4 ? std::vector{"ELF32", "Intel 80386", "DYN"} : std::vector{"ELF64", "X86-64", "DYN"})
        EXPECT_NE(header.find(fact), std::string::npos) << fact;
}

}  // namespace
}  // namespace kqtest
