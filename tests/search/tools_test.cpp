// The search, crc and known subcommands of the kqhelp tool.
#include <filesystem>
#include <fstream>

#include "support/module_fixture.h"

namespace kqtest {
namespace {

std::string write_file(const std::string &name, const std::string &content) {
    std::string path = temp_path("search-tools/" + name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string run(const std::string &args, int expected_status = 0) {
    std::string out;
    EXPECT_EQ(run_command(tool_command(args), &out), expected_status) << args;
    return out;
}

TEST(SearchTool, PrintsEveryMatchAcrossPieces) {
    // Matches straddle the tool's 1 MiB pieces and overlap each other.
    std::string data(3 << 20, 'x');
    for (size_t at : {size_t{0}, size_t{(1 << 20) - 3}, size_t{(2 << 20) - 1}, data.size() - 4}) data.replace(at, 4, "abab");
    data.replace(1000, 6, "ababab");
    const std::string f = write_file("big", data);
    EXPECT_EQ(run("search abab " + f), f + ": 0\n" + f + ": 1000\n" + f + ": 1002\n" + f + ": " +
                                           std::to_string((1 << 20) - 3) + "\n" + f + ": " +
                                           std::to_string((2 << 20) - 1) + "\n" + f + ": " +
                                           std::to_string(data.size() - 4) + "\n");
}

TEST(SearchTool, CaseHexAndScrambledForms) {
    const std::string f = write_file("mz", "xMZ mz Mz");
    EXPECT_EQ(run("search MZ " + f), f + ": 1\n");
    EXPECT_EQ(run("search -i mz " + f), f + ": 1\n" + f + ": 4\n" + f + ": 7\n");
    EXPECT_EQ(run("search --hex 4d5a " + f), f + ": 1\n");
    EXPECT_EQ(run("search --scrambled --hex 6275 " + f), f + ": 1\n");  // 'M' ^ 0x2F, 'Z' ^ 0x2F
    EXPECT_EQ(run("search -i --scrambled --hex 4255 " + f), f + ": 1\n" + f + ": 4\n" + f + ": 7\n");
    run("search --hex 4d5 " + f, 2);
    run("search " + std::string(256, 'a') + " " + f, 2);
    run("search abc", 2);
}

TEST(CrcTool, CksumLayoutWithTheCrc16) {
    const std::string f = write_file("digits", "123456789");
    EXPECT_EQ(run("crc " + f), "3421780262 9 0xbeef " + f + "\n");
    run("crc " + temp_path("search-tools/missing"), 1);
}

TEST(KnownTool, ReportsWhichFilesMatch) {
    const std::string digits = write_file("digits", "123456789");
    const std::string other = write_file("other", "abc");
    const std::string list = write_file("list", "# size offset length crc32\n9 0 9 0xCBF43926\n3 0 3 1\n");
    EXPECT_EQ(run("known --list " + list + " " + digits + " " + other),
              digits + ": known\n" + other + ": not known\n");
    run("known " + digits, 2);
    run("known --list " + write_file("bad-list", "1 2 3\n") + " " + digits, 2);
}

}  // namespace
}  // namespace kqtest
