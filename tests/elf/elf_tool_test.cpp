// kqhelp elf: readable and JSON output for good files, one clear line and
// status 1 for files it cannot describe.
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>

#include "support/elf_image.h"
#include "support/module_fixture.h"

namespace kqtest {
namespace {

std::string write_file(const std::string &name, const bytes &data) {
    mkdir((std::string(KQHELP_BINARY_DIR) + "/test-data").c_str(), 0755);
    std::string path = temp_path(name);
    FILE *f = fopen(path.c_str(), "wb");
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
    return path;
}

TEST(ElfTool, DescribesAFileLikeReadelf) {
    std::string path = write_file("tool-exec64be", elf_image::executable(2, true).build());
    std::string out;
    ASSERT_EQ(run_command(tool_command("elf --translate 0x401004 " + path), &out), 0) << out;
    EXPECT_NE(out.find("Class:                             ELF64"), std::string::npos) << out;
    EXPECT_NE(out.find("big endian"), std::string::npos);
    EXPECT_NE(out.find("] .text             PROGBITS        0000000000401000"), std::string::npos) << out;
    EXPECT_NE(out.find("  LOAD           0x"), std::string::npos);
    EXPECT_NE(out.find("Image base: 0x401000"), std::string::npos);
    EXPECT_NE(out.find("Virtual address 0x401004 is at file offset 0x"), std::string::npos) << out;
}

TEST(ElfTool, JsonCarriesTheTables) {
    std::string path = write_file("tool-exec32le", elf_image::executable(1, false).build());
    std::string out;
    ASSERT_EQ(run_command(tool_command("elf --json " + path), &out), 0) << out;
    EXPECT_NE(out.find("\"class\": 1, \"encoding\": 1"), std::string::npos) << out;
    EXPECT_NE(out.find("{\"name\": \".bss\""), std::string::npos);
    EXPECT_NE(out.find("\"image_base\": 4198400"), std::string::npos);
}

TEST(ElfTool, BadFilesGiveOneLineAndStatusOne) {
    bytes truncated = elf_image::executable(2, false).build();
    truncated.resize(100);
    bytes bad_type = elf_image::executable(1, false).build();
    bad_type[16] = 9;
    const std::pair<std::string, bytes> files[] = {
        {"tool-not-elf", bytes(300, 'A')}, {"tool-truncated", truncated}, {"tool-bad-type", bad_type}};
    for (const auto &[name, data] : files) {
        std::string path = write_file(name, data);
        std::string out;
        EXPECT_EQ(run_command(tool_command("elf " + path + " 2>&1"), &out), 1) << name;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        EXPECT_EQ(out.rfind("kqhelp: " + path + ": ", 0), 0u) << out;
    }
    std::string out;
    EXPECT_EQ(run_command(tool_command("elf 2>&1"), &out), 2);
}

}  // namespace
}  // namespace kqtest
