// Every kqhelp subcommand over the generated malformed files: no signal, no
// leaked host block, and at most one line on stderr per file for an error.
#include <algorithm>

#include "support/module_fixture.h"

namespace kqtest {
namespace {

TEST(HostileFiles, EverySubcommandSurvivesEveryFile) {
    const std::vector<std::string> files = files_in(KQHELP_HOSTILE_DIR);
    ASSERT_GT(files.size(), 300u) << "the hostile files were not generated";
    const std::string list = write_temp_file("hostile.list", "0 0 0 0\n64 0 16 0x12345678\n");
    const struct {
        std::string args;  // the files of one run follow
        size_t batch;      // files per run; commands that take one file run on every 9th
    } rows[] = {
        {"regions", 64},           {"elf", 64},      {"elf --json --translate 0x401000", 64}, {"pe", 64},
        {"pe --json", 64},         {"search -i ELF", 64}, {"search --hex 00000000", 64},      {"crc", 64},
        {"known --list " + list, 64}, {"xor --json", 64}, {"window 9 -1", 1}, {"window 4 30000", 1}, {"inflate", 1},
    };
    for (const auto &row : rows)
        for (size_t at = 0; at < files.size(); at += row.batch == 1 ? 9 : row.batch) {
            const size_t n = std::min(row.batch, files.size() - at);
            std::string args = row.args, err;
            for (size_t k = at; k < at + n; k++) args += " " + files[k];
            const int status = run_command(tool_command(args) + " 2>&1 >/dev/null", &err);
            EXPECT_TRUE(status >= 0 && status < 128) << "kqhelp " << args << ": status " << status;
            EXPECT_LE(size_t(std::count(err.begin(), err.end(), '\n')), n) << "kqhelp " << args << ":\n" << err;
            EXPECT_EQ(err.find("leaked"), std::string::npos) << "kqhelp " << args << ":\n" << err;
        }
}

}  // namespace
}  // namespace kqtest
