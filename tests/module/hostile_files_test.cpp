// Every kqhelp subcommand over the generated malformed files: no signal, no
// leaked host block, and at most one line on stderr per file for an error.
#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "support/module_fixture.h"
#include "support/temp_file.h"

namespace kqtest {
namespace {

std::vector<std::string> hostile_files() {
    std::vector<std::string> names;
    if (DIR *d = opendir(KQHELP_HOSTILE_DIR)) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(std::string(KQHELP_HOSTILE_DIR) + "/" + e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct subcommand {
    std::string args;  // FILES stands for the files of one run
    size_t batch;      // files per run (commands that take one file: 1)
};

TEST(HostileFiles, EverySubcommandSurvivesEveryFile) {
    const std::vector<std::string> files = hostile_files();
    ASSERT_GT(files.size(), 300u) << "the hostile files were not generated";
    const std::string list = write_temp_file("hostile.list", std::string("0 0 0 0\n64 0 16 0x12345678\n"));
    const subcommand rows[] = {
        {"regions FILES", 64},           {"elf FILES", 64},       {"elf --json --translate 0x401000 FILES", 64},
        {"pe FILES", 64},                {"pe --json FILES", 64}, {"search -i ELF FILES", 64},
        {"search --hex 00000000 FILES", 64}, {"crc FILES", 64},   {"known --list " + list + " FILES", 64},
        {"xor --json FILES", 64},        {"window 9 -1 FILES", 1}, {"window 4 30000 FILES", 1},
        {"inflate FILES", 1},
    };
    const std::string err = temp_path("hostile.stderr");
    for (const subcommand &row : rows)
        for (size_t at = 0; at < files.size(); at += row.batch * (row.batch == 1 ? 9 : 1)) {  // one-file commands: every 9th
            const size_t n = std::min(row.batch, files.size() - at);
            std::string names;
            for (size_t k = at; k < at + n; k++) names += " " + files[k];
            std::string args = row.args;
            args.replace(args.find("FILES"), 5, names.substr(1));
            const int status = run_command(tool_command(args) + " >/dev/null 2>" + err, nullptr);
            std::ifstream in(err);
            std::stringstream text;
            text << in.rdbuf();
            const std::string stderr_text = text.str();
            const size_t lines = size_t(std::count(stderr_text.begin(), stderr_text.end(), '\n'));
            EXPECT_TRUE(status >= 0 && status < 128) << "kqhelp " << args << ": status " << status;
            EXPECT_LE(lines, n) << "kqhelp " << args << ":\n" << stderr_text;
            EXPECT_EQ(stderr_text.find("leaked"), std::string::npos) << "kqhelp " << args << ":\n" << stderr_text;
        }
}

}  // namespace
}  // namespace kqtest
