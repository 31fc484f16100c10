// The kqhelp tool as a user runs it: one table of subcommand x situation with the exit status and what must be printed,
// every subcommand over the generated malformed files, a memory bound on a huge sparse file, and `scan` over a tree of
// planted executables.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "support/elf_image.h"
#include "support/module_fixture.h"
#include "xordetect/xordetect_samples.h"

namespace kqtest {
namespace {

std::string dir;  // the fixture's files; "$D" in a row

// "$D" stands for the fixture's folder, "$K" for the tool (under the build's runner, qemu-i386 where the kernel runs no
// i386 code, and a timeout: a FIFO that blocked would end in 124).
std::string expand(std::string s) {
    for (const auto &[from, to] : {std::pair<std::string, std::string>{"$D", dir}, {"$K", "timeout 60 " KQHELP_RUNNER " " KQHELP_TOOL_PATH}})
        for (size_t at; (at = s.find(from)) != std::string::npos;) s.replace(at, 2, to);
    return s;
}

// Exit status and stdout + stderr of a shell command ("$K ARGS" if it names
// no "$K"), and the peak resident KiB of its largest process.
int kq(std::string args, std::string *out, long *kib = nullptr) {
    const std::string cmd = "(" + expand(args.find("$K") == std::string::npos ? "$K " + args : args) + ") >" + dir + "/run.out 2>&1";
    int status = 0;
    rusage usage{};
    if (const pid_t pid = fork(); pid == 0) execl("/bin/sh", "sh", "-c", cmd.c_str(), nullptr), _exit(127);
    else wait4(pid, &status, 0, &usage);
    if (kib) *kib = usage.ru_maxrss;
    run_command("cat " + dir + "/run.out", out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

template <class Bytes> void put(const std::string &name, const Bytes &data) {
    const std::filesystem::path path = dir + "/" + name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << std::string(data.begin(), data.end());
}

class ToolTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {  // each test process has its own folder: CTest runs the tests in parallel
        dir = KQHELP_BINARY_DIR "/test-data/tool-" + std::to_string(getpid());
        run_command(expand("rm -rf $D && mkdir -p $D/sub && mkfifo $D/fifo && echo x >$D/unreadable && chmod 0 $D/unreadable"), nullptr);
        for (const auto &[name, data] : std::map<std::string, std::string>{
                 {"digits", "123456789"}, {"empty", ""}, {"mz", "xMZ mz Mz"}, {"dash", "a-x-"}, {"esc\x1b[2J\nname", "MZ"},
                 {"list", "# size offset length crc32\n9 0 9 0xCBF43926\n"}})
            put(name, data);
        // An ELF file with a 64-bit entry, a name holding an escape sequence and
        // one past the name table's cap; and one the reader refuses.
        elf_image e = elf_image::executable(2, false), refused = e;
        e.entry = 0xffffffff81000123ull, refused.shentsize = 0;
        e.sections.push_back({"\x1b[2J"}), e.sections.push_back({"far"});
        e.sections.back().name_offset = 40000, e.extra_names.assign(40000, 'n');
        put("elf", e.build()), put("elf-refused", refused.build());
    }
    static void TearDownTestSuite() { run_command("rm -rf " + dir, nullptr); }
};

struct row { std::string args; int status; std::string expect; };  // expect: a substring, or after '=' the whole output

void check(const row &r, long *kib = nullptr) {
    std::string out;
    EXPECT_EQ(kq(r.args, &out, kib), r.status) << r.args << "\n" << out;
    const std::string want = expand(r.expect);
    if (want[0] == '=') EXPECT_EQ(out, want.substr(1)) << r.args;
    else EXPECT_NE(out.find(want), std::string::npos) << r.args << "\nwanted: " << want << "\ngot:\n" << out;
}

const row rows[] = {
    {"crc $D/digits", 0, "=cbf43926 beef 9 $D/digits\n"}, {"crc --crc32 $D/digits", 0, "=cbf43926 9 $D/digits\n"},
    {"crc --crc16 --offset 9 $D/digits", 0, "=0000 0 $D/digits\n"},
    {"crc --json $D/digits", 0, "\"crc32\":\"0xcbf43926\",\"crc16\":\"0xbeef\",\"offset\":\"0x0\",\"length\":9}"},
    {"crc --offset 10 $D/digits", 1, "passes the end"}, {"crc $D/empty", 0, "=00000000 0000 0 $D/empty\n"},
    {"crc - < $D/digits", 0, "=cbf43926 beef 9 -\n"}, {"cat $D/digits | $K crc -", 0, "=cbf43926 beef 9 -\n"},
    {"crc $D/esc*", 0, "esc\\x1b[2J\\nname\n"}, {"crc $D/digits > /dev/full", 1, "write error on standard output"},
    {"crc --json $D/missing", 1, "\"file\":\"$D/missing\",\"error\":\"No such file or directory\"}"},
    {"known --make $D/digits", 0, "=9 0 9 0xcbf43926  # $D/digits\n"},
    {"known --list $D/list $D/empty $D/digits", 0, "$D/empty: not known\n$D/digits: known\n"},
    {"known --list $D/list $D/empty", 1, "=$D/empty: not known\n"}, {"known $D/digits", 2, "give either --list LIST or --make"},
    {"known --list $D/digits $D/digits", 2, "expected \"size offset length crc32\""},
    {"search MZ $D/mz", 0, "=$D/mz: 1\n"}, {"search mz $D/mz -i", 0, "=$D/mz: 1\n$D/mz: 4\n$D/mz: 7\n"},
    {"search --hex 4d:5a $D/mz", 0, "=$D/mz: 1\n"}, {"search --scrambled --hex 6275 $D/mz", 0, "=$D/mz: 1\n"},
    {"search --json MZ $D/mz", 0, "\"file\":\"$D/mz\",\"offset\":\"0x1\"}"},
    {"search -- -x $D/dash", 0, "=$D/dash: 1\n"}, {"cat $D/mz | $K search MZ -", 0, "=-: 1\n"},
    {"search zz $D/mz", 1, "="}, {"search --hex 4d5 $D/mz", 2, "pairs of hex digits"}, {"search abc", 2, "missing operand"},
    {"name appl/Foo heur", 0, "=appl/Foo: category prefix\nheur: no category prefix\n"}, {"name heur", 1, "=heur: no category prefix\n"},
    {"ext .EXE .PIF .exe", 0, "=.EXE: executable\n.PIF: executable document\n.exe: not listed\n"},
    {"ext --json .exe", 1, "\"extension\":\".exe\",\"executable\":false,\"document\":false}"},
    {"xor $D/empty", 1, "=$D/empty: nothing found\n"}, {"xor --decode $D/out $D/empty $D/mz", 2, "--decode takes one FILE"},
    {"regions $D/digits", 0, "=$D/digits: size 9, head 9, tail 9\n"}, {"window sideways 0 $D/digits", 2, "usage: kqhelp window"},
    {"elf $D/elf", 0, "  Machine:                           Advanced Micro Devices X86-64\n"},
    {"elf $D/elf", 0, "] \\x1b[2J "}, {"elf $D/elf", 0, "] <name beyond the 32 KiB name table> "},
    {"elf --json $D/elf", 0, "\"entry\":\"0xffffffff81000123\""},
    {"elf --json $D/elf", 0, "{\"name\":null,\"name_note\":\"<name beyond the 32 KiB name table>\""},
    {"elf $D/elf-refused", 1, "Program Headers:\n  Type           Offset   VirtAddr"},
    {"elf $D/elf-refused", 1, "kqhelp: $D/elf-refused: not a valid ELF file: wrong header or entry size (code 300)"},
    {"elf $D/digits", 1, "=kqhelp: $D/digits: not an ELF file\n"}, {"pe $D/digits", 1, "not an MS-DOS executable"},
    {"info --json", 0, "\"slots\":75,\"empty_slots\":[]}"}, {"nonsense", 2, "unknown command 'nonsense'"},
    {"scan $D/sub", 2, "$D/sub: is a directory (scan trees with -r)"}, {"scan -q -j 0 $D/digits", 2, "-j takes 1 to 256"},
    {"scan -q $D/fifo /dev/null $D/digits", 0, "=$D/digits: other, 9 bytes, crc32 cbf43926\n"},
};

TEST_F(ToolTest, EverySubcommandInEverySituation) {
    std::vector<row> all(std::begin(rows), std::end(rows));
    // The same inputs fail the same way in every subcommand that reads files.
    const std::pair<const char *, int> readers[] = {
        {"regions", 1}, {"elf", 1},      {"pe", 1},        {"crc", 1},   {"known --list $D/list", 2},
        {"xor", 2},     {"search MZ", 2}, {"window 3 0", 1}, {"inflate", 1}, {"scan", 2}};
    std::vector<std::string> bad = {"$D/fifo: is a FIFO", "/dev/null: is a character device",
                                    "$D/missing: No such file or directory", "$D/sub: is a directory"};
    if (geteuid() != 0) bad.push_back("$D/unreadable: Permission denied");  // root reads everything
    for (const auto &[sub, status] : readers) {
        const std::string s = sub, name = s.substr(0, s.find(' '));
        all.push_back({name + " --help", 0, "usage: kqhelp " + name + " [OPTIONS] [--] "});
        all.push_back({name + " --bogus $D/digits", 2, "kqhelp " + name + ": unknown option '--bogus'\nusage: kqhelp " + name});
        for (size_t i = name == "scan" ? 2 : 0; i < bad.size(); i++)  // scan counts special files instead
            all.push_back({s + " " + bad[i].substr(0, bad[i].find(": ")), status, "kqhelp: " + bad[i]});
    }
    for (const row &r : all) check(r);
}

// Every subcommand over the generated malformed files: no signal, no leaked
// host block, and at most one line on stderr per file for an error.
TEST_F(ToolTest, EverySubcommandSurvivesEveryHostileFile) {
    const std::vector<std::string> files = files_in(KQHELP_HOSTILE_DIR);
    ASSERT_GT(files.size(), 300u) << "the hostile files were not generated";
    put("hostile.list", std::string("0 0 0 0\n64 0 16 0x12345678\n"));
    const std::pair<std::string, size_t> rows[] = {  // the files of a run follow; files per run (1: every 9th file)
        {"regions", 64},     {"elf", 64},          {"elf --json --translate 0x401000", 64}, {"pe", 64},
        {"pe --json", 64},   {"search -i ELF", 64}, {"search --hex 00000000", 64},          {"crc", 64},
        {"known --list $D/hostile.list", 64}, {"xor --json", 64}, {"window 9 -1", 1}, {"window 4 30000", 1}, {"inflate", 1}};
    for (const auto &[command, batch] : rows)
        for (size_t at = 0; at < files.size(); at += batch == 1 ? 9 : batch) {
            const size_t n = std::min(batch, files.size() - at);
            std::string args = command, err;
            for (size_t k = at; k < at + n; k++) args += " " + files[k];
            const int status = kq(args + " 2>&1 >/dev/null", &err);
            EXPECT_TRUE(status >= 0 && status < 128) << args << ": status " << status;
            EXPECT_LE(size_t(std::count(err.begin(), err.end(), '\n')), n) << args << ":\n" << err;
            EXPECT_EQ(err.find("leaked"), std::string::npos) << args << ":\n" << err;
        }
}

// 3 GiB: offsets past 2^31, and a reader that held the file could not even map it in an i386 process.
TEST_F(ToolTest, HugeSparseFilesStreamInBoundedMemory) {
    ASSERT_EQ(run_command("truncate -s 3G " + dir + "/huge", nullptr), 0);
    long baseline = 0, kib = 0;
    check({"crc $D/digits", 0, "cbf43926"}, &baseline);
    for (const row &r : {row{"crc --crc32 --offset 0xbff00000 $D/huge", 0, "=a738ea1c 1048576 $D/huge\n"},  // 1 MiB of 0
                         row{"xor $D/huge", 1, "=$D/huge: nothing found\n"},
                         row{"scan -q -j 1 $D/huge", 0, "=$D/huge: other, 3221225472 bytes, crc32 480bbe37\n"}}) {
        check(r, &kib);
        EXPECT_LT(kib - baseline, 4096) << r.args << ": " << kib << " KiB against " << baseline << " for a small file";
    }
}

// Executables hidden with every scheme at known offsets and keys, and what scan must report for each file.
const uint8_t block_key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const struct { const char *name; void (*encode)(xsamples::bytes &); size_t at; const char *finding; } tree[] = {
    {"a/plain-at-0", [](xsamples::bytes &) {}, 0, ""},
    {"a/plain-inside", [](xsamples::bytes &) {}, 0x3000, "plain at 0x3000"},
    {"a/xor8", [](xsamples::bytes &b) { xsamples::xor_bytes(b, 0x6b); }, 0x1230, "xor8 at 0x1230, key 0x6b"},
    {"b/xor32", [](xsamples::bytes &b) { xsamples::xor_words(b, 0x11223344); }, 0x2000, "xor32 at 0x2000, key 0x11223344"},
    {"b/xor128", [](xsamples::bytes &b) { xsamples::xor_block(b, block_key); }, 0x4000,
     "xor128 at 0x4000, key 0x0102030405060708090a0b0c0d0e0f10"},
    {"b/add8", [](xsamples::bytes &b) { xsamples::add_bytes(b, 0x21); }, 0x1800, "add8 at 0x1800, key 0x21"},
    {"c/add32", [](xsamples::bytes &b) { xsamples::add_words(b, 0x01020304); }, 0x2000, "add32"},
    {"c/widened", [](xsamples::bytes &b) { b.assign(b.size(), 0), xsamples::widen_signature(b, 0x2000); }, 0, "widened"},
    {"c/late", [](xsamples::bytes &b) { xsamples::xor_bytes(b, 0x5c); }, (3 << 20) + 0x70, "xor8 at 0x300070, key 0x5c"},
};

TEST_F(ToolTest, ScanFindsEveryPlantedExecutableWithAnyNumberOfWorkers) {
    for (const auto &p : tree) {
        xsamples::bytes b = xsamples::plain_image(p.at + 0x10000, p.at);
        p.encode(b), put("tree/" + std::string(p.name), b);
    }
    put("tree/c/text", std::string("just text"));
    run_command("ln -s .. " + dir + "/tree/a/loop && mkfifo " + dir + "/tree/b/fifo", nullptr);
    std::string one, four;
    ASSERT_EQ(kq("scan -r -j 1 --sort $D/tree", &one), 1) << one;
    ASSERT_EQ(kq("scan -r -j 4 --sort $D/tree", &four), 1);
    auto without_times = [](const std::string &s) { return std::regex_replace(s, std::regex("in [0-9.]+ s"), ""); };
    EXPECT_EQ(without_times(one), without_times(four));
    EXPECT_NE(one.find("skipped: 1 special files, 1 symbolic links"), std::string::npos) << one;
    std::set<std::string> found, expected;  // "FILE: hidden ..." lines
    for (const auto &p : tree)
        if (*p.finding) expected.insert(dir + "/tree/" + p.name + ": hidden " + p.finding);
    std::istringstream lines(one);
    for (std::string l; std::getline(lines, l);)
        if (l.find(": hidden ") != std::string::npos) found.insert(l);
    EXPECT_EQ(found, expected);
    // A file whose scanner leaves no decoded header, after one that left a header in the buffers.
    for (const row &r : {row{"scan -q -j 1 $D/tree/a/plain-at-0 $D/tree/c/widened", 1, "c/widened: hidden widened\n"},
                         row{"scan -q -r --json --sort $D/tree", 1, "\"hidden\":[{\"scheme\":\"add32\",\"offset\":null,\"key\":null}]"},
                         row{"scan -q -r --json --sort $D/tree", 1, "\"summary\":{\"files\":10,"}})
        check(r);
}

}  // namespace
}  // namespace kqtest
