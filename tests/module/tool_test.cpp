// The kqhelp tool as a user runs it: one table of subcommand x situation with
// the exit status and what must be printed, a memory bound on a huge sparse
// file, and `scan` over a tree of planted executables.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>

#include "support/elf_image.h"
#include "support/temp_file.h"
#include "xordetect/xordetect_samples.h"

namespace kqtest {
namespace {

std::string dir;  // the fixture's files; "$D" in a row

std::string expand(std::string s) {
    for (size_t at; (at = s.find("$D")) != std::string::npos;) s.replace(at, 2, dir);
    return s;
}

// Exit status and stdout + stderr; a FIFO that blocked would end in 124.
int kq(const std::string &args, std::string *out, const char *piped = nullptr) {
    std::string cmd = "(timeout 60 " + tool_command(expand(args)) + ") 2>&1";
    if (piped) cmd = "cat " + expand(piped) + " | " + cmd;
    return run_command(cmd, out);
}

// Each test process has its own folder: CTest runs the tests in parallel.
void put(const std::string &name, const std::string &data) {
    write_temp_file("tool-" + std::to_string(getpid()) + "/" + name, data);
}

class ToolTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = temp_path("tool-" + std::to_string(getpid()));
        run_command("rm -rf " + dir + " && mkdir -p " + dir + "/sub && mkfifo " + dir + "/fifo", nullptr);
        put("digits", "123456789");
        put("empty", "");
        put("mz", "xMZ mz Mz");
        put("dash", "a-x-");
        put("esc\x1b[2J\nname", "MZ");
        put("list", "# size offset length crc32\n9 0 9 0xCBF43926\n");
        elf_image e = elf_image::executable(2, false);
        e.entry = 0xffffffff81000123ull;
        e.sections.push_back({"\x1b[2J"});
        e.sections.push_back({"far"});
        e.sections.back().name_offset = 40000;
        e.extra_names.assign(40000, 'n');
        put("elf", std::string(reinterpret_cast<const char *>(e.build().data()), e.build().size()));
        elf_image refused = elf_image::executable(2, false);
        refused.shentsize = 0;
        const auto r = refused.build();
        put("elf-refused", std::string(r.begin(), r.end()));
    }
    static void TearDownTestSuite() { run_command("rm -rf " + dir, nullptr); }
};

struct row {
    std::string args;
    int status;
    std::string expect;  // a substring, or after '=' the whole output; "$D" is the fixture folder
    const char *piped = nullptr;
};

const row rows[] = {
    {"crc $D/digits", 0, "=cbf43926 beef 9 $D/digits\n"},
    {"crc --crc32 $D/digits", 0, "=cbf43926 9 $D/digits\n"},
    {"crc --crc16 --offset 9 $D/digits", 0, "=0000 0 $D/digits\n"},
    {"crc --json $D/digits", 0, "\"crc32\":\"0xcbf43926\",\"crc16\":\"0xbeef\",\"offset\":\"0x0\",\"length\":9}"},
    {"crc --offset 10 $D/digits", 1, "passes the end"},
    {"crc $D/empty", 0, "=00000000 0000 0 $D/empty\n"},
    {"crc - < $D/digits", 0, "=cbf43926 beef 9 -\n"},
    {"crc -", 0, "=cbf43926 beef 9 -\n", "$D/digits"},
    {"crc $D/esc*", 0, "esc\\x1b[2J\\nname\n"},
    {"crc $D/digits > /dev/full", 1, "write error on standard output"},
    {"crc --json $D/missing", 1, "\"file\":\"$D/missing\",\"error\":\"No such file or directory\"}"},
    {"known --make $D/digits", 0, "=9 0 9 0xcbf43926  # $D/digits\n"},
    {"known --list $D/list $D/empty $D/digits", 0, "$D/empty: not known\n$D/digits: known\n"},
    {"known --list $D/list $D/empty", 1, "=$D/empty: not known\n"},
    {"known $D/digits", 2, "give either --list LIST or --make"},
    {"known --list $D/digits $D/digits", 2, "expected \"size offset length crc32\""},
    {"search MZ $D/mz", 0, "=$D/mz: 1\n"},
    {"search mz $D/mz -i", 0, "=$D/mz: 1\n$D/mz: 4\n$D/mz: 7\n"},
    {"search --hex 4d:5a $D/mz", 0, "=$D/mz: 1\n"},
    {"search --scrambled --hex 6275 $D/mz", 0, "=$D/mz: 1\n"},
    {"search --json MZ $D/mz", 0, "\"file\":\"$D/mz\",\"offset\":\"0x1\"}"},
    {"search -- -x $D/dash", 0, "=$D/dash: 1\n"},
    {"search MZ -", 0, "=-: 1\n", "$D/mz"},
    {"search zz $D/mz", 1, "="},
    {"search --hex 4d5 $D/mz", 2, "pairs of hex digits"},
    {"search abc", 2, "missing operand"},
    {"name appl/Foo heur", 0, "=appl/Foo: category prefix\nheur: no category prefix\n"},
    {"name heur", 1, "=heur: no category prefix\n"},
    {"ext .EXE .PIF .exe", 0, "=.EXE: executable\n.PIF: executable document\n.exe: not listed\n"},
    {"ext --json .exe", 1, "\"extension\":\".exe\",\"executable\":false,\"document\":false}"},
    {"xor $D/empty", 1, "=$D/empty: nothing found\n"},
    {"xor --decode $D/out $D/empty $D/mz", 2, "--decode takes one FILE"},
    {"regions $D/digits", 0, "=$D/digits: size 9, head 9, tail 9\n"},
    {"elf $D/elf", 0, "  Machine:                           Advanced Micro Devices X86-64\n"},
    {"elf $D/elf", 0, "] \\x1b[2J "},
    {"elf $D/elf", 0, "] <name beyond the 32 KiB name table> "},
    {"elf --json $D/elf", 0, "\"entry\":\"0xffffffff81000123\""},
    {"elf --json $D/elf", 0, "{\"name\":null,\"name_note\":\"<name beyond the 32 KiB name table>\""},
    {"elf $D/elf-refused", 1, "Program Headers:\n  Type           Offset   VirtAddr"},
    {"elf $D/elf-refused", 1, "kqhelp: $D/elf-refused: not a valid ELF file: wrong header or entry size (code 300)"},
    {"elf $D/digits", 1, "=kqhelp: $D/digits: not an ELF file\n"},
    {"pe $D/digits", 1, "not an MS-DOS executable"},
    {"window sideways 0 $D/digits", 2, "usage: kqhelp window"},
    {"info --json", 0, "\"slots\":75,\"empty_slots\":[]}"},
    {"nonsense", 2, "unknown command 'nonsense'"},
    {"scan $D/sub", 2, "$D/sub: is a directory (scan trees with -r)"},
    {"scan -q $D/fifo /dev/null $D/digits", 0, "=$D/digits: other, 9 bytes, crc32 cbf43926\n"},
    {"scan -q -j 0 $D/digits", 2, "-j takes 1 to 256"},
};

TEST_F(ToolTest, EverySubcommandInEverySituation) {
    std::vector<row> all(std::begin(rows), std::end(rows));
    // The same inputs fail the same way in every subcommand that reads files.
    const std::pair<const char *, int> readers[] = {
        {"regions", 1}, {"elf", 1},      {"pe", 1},        {"crc", 1},   {"known --list $D/list", 2},
        {"xor", 2},     {"search MZ", 2}, {"window 3 0", 1}, {"inflate", 1}, {"scan", 2}};
    const struct {
        const char *path, *message;
        bool scan_skips;  // scan counts special files instead
    } bad_inputs[] = {{"$D/missing", "No such file or directory", false},
                      {"$D/sub", "is a directory", false},
                      {"$D/fifo", "is a FIFO", true},
                      {"/dev/null", "is a character device", true}};
    for (const auto &[sub, status] : readers) {
        const std::string name = std::string(sub).substr(0, std::string(sub).find(' '));
        all.push_back({name + " --help", 0, "usage: kqhelp " + name + " [OPTIONS] [--] "});
        all.push_back({name + " --bogus $D/digits", 2, "kqhelp " + name + ": unknown option '--bogus'\nusage: kqhelp " + name});
        for (const auto &b : bad_inputs)
            if (name != "scan" || !b.scan_skips)
                all.push_back({std::string(sub) + " " + b.path, status, std::string("kqhelp: ") + b.path + ": " + b.message});
        if (geteuid() != 0)  // root reads everything
            all.push_back({std::string(sub) + " $D/unreadable", status, "kqhelp: $D/unreadable: Permission denied"});
    }
    put("unreadable", "x");
    chmod((dir + "/unreadable").c_str(), 0);
    for (const row &r : all) {
        std::string out;
        EXPECT_EQ(kq(r.args, &out, r.piped), r.status) << r.args << "\n" << out;
        const std::string want = expand(r.expect);
        if (want[0] == '=') EXPECT_EQ(out, want.substr(1)) << r.args;
        else EXPECT_NE(out.find(want), std::string::npos) << r.args << "\nwanted: " << want << "\ngot:\n" << out;
    }
}

TEST_F(ToolTest, ManualPageNamesEveryCommandAndOption) {
    std::ifstream in(std::string(KQHELP_SOURCE_DIR) + "/tools/kqhelp/kqhelp.1");
    const std::string manual(std::istreambuf_iterator<char>(in), {});
    std::string help, command_help;
    ASSERT_EQ(kq("--help", &help), 0);
    const std::regex command_line("\n  ([a-z]+) "), option_line("\n  (-[-a-z0-9]+)");
    for (std::sregex_iterator c(help.begin(), help.end(), command_line), end; c != end; ++c) {
        EXPECT_NE(manual.find("\\fB" + (*c)[1].str() + "\\fR"), std::string::npos) << (*c)[1];
        ASSERT_EQ(kq((*c)[1].str() + " --help", &command_help), 0);
        for (std::sregex_iterator o(command_help.begin(), command_help.end(), option_line); o != end; ++o)
            EXPECT_NE(manual.find("\\fB" + std::regex_replace((*o)[1].str(), std::regex("-"), "\\-")),
                      std::string::npos) << (*c)[1] << " " << (*o)[1];
    }
}

// Peak resident memory (KiB), exit status and output of one run.
struct measure {
    long kib;
    int status;
    std::string out;
};
measure measured(const std::string &args) {
    const std::string out_path = dir + "/measured.out";
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string cmd = "exec " + tool_command(expand(args)) + " >" + out_path + " 2>&1";
        execl("/bin/sh", "sh", "-c", cmd.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    std::ifstream in(out_path);
    return {usage.ru_maxrss, WEXITSTATUS(status), std::string(std::istreambuf_iterator<char>(in), {})};
}

TEST_F(ToolTest, HugeSparseFilesStreamInBoundedMemory) {
    // 3 GiB: offsets past 2^31, and a reader that held the file could not
    // even map it in an i386 process.
    ASSERT_EQ(run_command("truncate -s 3G " + dir + "/huge", nullptr), 0);
    const long baseline = measured("crc $D/digits").kib;
    const struct {
        const char *args;
        int status;
        const char *out;
    } runs[] = {{"crc --crc32 --offset 0xbff00000 $D/huge", 0, "a738ea1c 1048576 $D/huge\n"},  // zlib's, of 1 MiB of 0
                {"xor $D/huge", 1, "$D/huge: nothing found\n"},
                {"scan -q -j 1 $D/huge", 0, "$D/huge: other, 3221225472 bytes, crc32 480bbe37\n"}};
    for (const auto &r : runs) {
        const measure m = measured(r.args);
        EXPECT_EQ(m.status, r.status) << r.args;
        EXPECT_EQ(m.out, expand(r.out)) << r.args;
        EXPECT_LT(m.kib - baseline, 4096) << r.args << ": " << m.kib << " KiB against " << baseline << " for a small file";
    }
    unlink((dir + "/huge").c_str());
}

// Executables hidden with every scheme at known offsets and keys: what scan
// must report for each file, as "scheme offset key" (offset and key "-" when
// the scheme does not tell them).
struct planted {
    const char *name;
    void (*encode)(xsamples::bytes &);
    size_t at;
    const char *finding;
};
const uint8_t block_key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const planted tree[] = {
    {"a/plain-at-0", [](xsamples::bytes &) {}, 0, ""},
    {"a/plain-inside", [](xsamples::bytes &) {}, 0x3000, "plain 0x3000 -"},
    {"a/xor8", [](xsamples::bytes &b) { xsamples::xor_bytes(b, 0x6b); }, 0x1230, "xor8 0x1230 0x6b"},
    {"b/xor32", [](xsamples::bytes &b) { xsamples::xor_words(b, 0x11223344); }, 0x2000, "xor32 0x2000 0x11223344"},
    {"b/xor128", [](xsamples::bytes &b) { xsamples::xor_block(b, block_key); }, 0x4000, "xor128 0x4000 0x0102030405060708090a0b0c0d0e0f10"},
    {"b/add8", [](xsamples::bytes &b) { xsamples::add_bytes(b, 0x21); }, 0x1800, "add8 0x1800 0x21"},
    {"c/add32", [](xsamples::bytes &b) { xsamples::add_words(b, 0x01020304); }, 0x2000, "add32 - -"},
    {"c/widened", [](xsamples::bytes &b) { b.assign(b.size(), 0), xsamples::widen_signature(b, 0x2000); }, 0, "widened - -"},
    {"c/late", [](xsamples::bytes &b) { xsamples::xor_bytes(b, 0x5c); }, (3 << 20) + 0x70, "xor8 0x300070 0x5c"},
};

TEST_F(ToolTest, ScanFindsEveryPlantedExecutableWithAnyNumberOfWorkers) {
    const std::string root = dir + "/tree";
    for (const planted &p : tree) {
        xsamples::bytes b = xsamples::plain_image(p.at + 0x10000, p.at);
        p.encode(b);
        put("tree/" + std::string(p.name), std::string(b.begin(), b.end()));
    }
    put("tree/c/text", "just text");
    run_command("ln -s .. " + root + "/a/loop && mkfifo " + root + "/b/fifo", nullptr);

    std::string one, four;
    ASSERT_EQ(kq("scan -r -j 1 --sort $D/tree", &one), 1) << one;
    ASSERT_EQ(kq("scan -r -j 4 --sort $D/tree", &four), 1);
    EXPECT_NE(one.find("skipped: 1 special files, 1 symbolic links"), std::string::npos) << one;
    auto without_times = [](const std::string &s) { return std::regex_replace(s, std::regex("in [0-9.]+ s"), ""); };
    EXPECT_EQ(without_times(one), without_times(four));

    std::string json;
    ASSERT_EQ(kq("scan -q -r --json --sort $D/tree", &json), 1);
    for (const planted &p : tree) {
        std::smatch m;
        const std::regex line("\"file\":\"" + root + "/" + p.name + "\"[^\n]*\"hidden\":\\[([^\\]]*)\\]");
        ASSERT_TRUE(std::regex_search(json, m, line)) << p.name << "\n" << json;
        std::string got;
        const std::regex item("\"scheme\":\"([^\"]+)\",\"offset\":(?:\"([^\"]+)\"|null),\"key\":(?:\"([^\"]+)\"|null)");
        const std::string findings = m[1];
        for (std::sregex_iterator i(findings.begin(), findings.end(), item), end; i != end; ++i)
            got += (got.empty() ? "" : "; ") + (*i)[1].str() + " " + ((*i)[2].matched ? (*i)[2].str() : "-") + " " +
                   ((*i)[3].matched ? (*i)[3].str() : "-");
        EXPECT_EQ(got, p.finding) << p.name;
    }
    EXPECT_NE(json.find("\"summary\":{\"files\":10,"), std::string::npos) << json;
}

}  // namespace
}  // namespace kqtest
