// The shared object itself: exports, needed libraries, architecture, and no
// code that runs at load or unload.
#include <regex>
#include <set>

#include "support/module_fixture.h"

namespace kqtest {
namespace {

// The first two groups, joined, of every match of pattern in what the command prints about the module.
std::set<std::string> all(const std::string &command, const char *pattern) {
    std::string out;
    EXPECT_EQ(run_command(command + " " + KQHELP_MODULE_PATH + " 2>&1", &out), 0) << command << "\n" << out;
    std::set<std::string> found;
    const std::regex re(pattern);
    for (std::sregex_iterator m(out.begin(), out.end(), re), end; m != end; ++m) found.insert((*m)[1].str() + (*m)[2].str());
    return found;
}

TEST(BinaryTest, ExportsNeedsLoadCodeVersionAndArchitecture) {
    EXPECT_EQ(all("nm -D --defined-only --format=posix", "(?:^|\n)([^ \n]+)() "),
              (std::set<std::string>{"module_get_info", "module_get_api", "module_get_abi_version", "elf_get_encoding",
                                     "elf_get_section_by_physical_address", "elf_get_segment_by_physical_address",
                                     "helper_add_str_to_list", "helper_find_str_in_list", "helper_delete_str_list",
                                     "helper_add_2str_to_list", "helper_delete_2str_list", "helper_add_to_tree",
                                     "helper_find_in_tree", "helper_delete_tree", "xor_string_copy"}));
    // Hosts link and load it by the name of its ABI version; it needs libc and
    // zlib only and runs no code at load or unload (a sanitizer adds its own).
    const std::string soname = "SONAMElibkqhelp.so." + std::to_string(KQHELP_ABI_VERSION);
    const std::set<std::string> dynamic = all("readelf -d", "\\((NEEDED|SONAME|INIT|FINI|INIT_ARRAY|FINI_ARRAY|TEXTREL)\\)[^\n\\[]*\\[?([^\n\\]]*)");
#ifdef KQHELP_SANITIZED
    EXPECT_EQ(dynamic.count(soname), 1u);
#else
    EXPECT_EQ(dynamic, (std::set<std::string>{"NEEDEDlibc.so.6", "NEEDEDlibz.so.1", soname}));
#endif
    EXPECT_EQ(all("readelf -h", "(ELF32|ELF64|Intel 80386|X86-64|DYN)()"),
              (sizeof(void *) == 4 ? std::set<std::string>{"ELF32", "Intel 80386", "DYN"} : std::set<std::string>{"ELF64", "X86-64", "DYN"}));
}

}  // namespace
}  // namespace kqtest
