// The kqhelp tool's conventions: help, version, exit statuses, and one-line
// errors that name the file for files it cannot handle.
#include <fstream>

#include "support/module_fixture.h"

namespace kqtest {
namespace {

int tool(const std::string &args, std::string *out) { return run_command(tool_command(args) + " 2>&1", out); }

TEST(ToolTest, HelpVersionAndUsageErrors) {
    std::string out;
    EXPECT_EQ(tool("--help", &out), 0);
    EXPECT_NE(out.find("regions FILE..."), std::string::npos);
    EXPECT_EQ(tool("--version", &out), 0);
    EXPECT_EQ(out, "kqhelp 8.1.1.2\n");
    EXPECT_EQ(tool("", &out), 2);
    EXPECT_EQ(tool("no-such-command", &out), 2);
    EXPECT_NE(out.find("unknown command 'no-such-command'"), std::string::npos);
    EXPECT_EQ(tool("regions", &out), 2);
    EXPECT_EQ(tool("--module /nonexistent/lib.so info", &out), 1);
}

TEST(ToolTest, RegionsOfOrdinaryAndAwkwardFiles) {
    std::string dir = temp_path("regions");
    ASSERT_EQ(run_command("mkdir -p " + dir, nullptr), 0);
    std::ofstream(dir + "/small.bin") << std::string(100, 'x');
    std::ofstream(dir + "/large.bin") << std::string(30000, 'y');
    std::ofstream(dir + "/empty.bin");

    std::string out;
    EXPECT_EQ(tool("regions " + dir + "/small.bin " + dir + "/large.bin", &out), 0) << out;
    EXPECT_NE(out.find("small.bin: size 100, head 100, tail 100"), std::string::npos) << out;
    EXPECT_NE(out.find("large.bin: size 30000, head 20480, tail 20480"), std::string::npos) << out;

    EXPECT_EQ(tool("regions " + dir + "/empty.bin", &out), 0) << "an empty file is no error: its regions are empty";
    EXPECT_NE(out.find("empty.bin: size 0, head 0, tail 0"), std::string::npos) << out;

    EXPECT_EQ(tool("regions " + dir + " " + dir + "/missing.bin " + dir + "/small.bin", &out), 1);
    EXPECT_NE(out.find(dir + ": not a regular file"), std::string::npos) << out;
    EXPECT_NE(out.find("kqhelp: " + dir + "/missing.bin: No such file or directory\n"), std::string::npos) << out;
    EXPECT_NE(out.find("small.bin: size 100"), std::string::npos) << "later files are still handled";
    EXPECT_EQ(out.find("leaked"), std::string::npos) << out;
}

}  // namespace
}  // namespace kqtest
