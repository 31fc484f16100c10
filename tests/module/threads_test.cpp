// Eight threads share one loaded module and one reference host, each creating,
// walking and destroying scan_files over real and malformed files; every
// file's results must equal those of a single-threaded walk, and no host
// block may stay live.
#include <dirent.h>

#include <algorithm>
#include <map>
#include <thread>

#include "kqhelp/slot_call.hpp"
#include "support/module_fixture.h"

namespace kqtest {
namespace {

struct digest {
    uint64_t h = 14695981039346656037ull;
    void add(uint64_t v) {
        for (int i = 0; i < 8; i++) h = (h ^ uint8_t(v >> (8 * i))) * 1099511628211ull;
    }
    void add(const uint8_t *p, uint64_t n) {
        add(p != nullptr);
        for (uint64_t i = 0; p && i < n; i++) h = (h ^ p[i]) * 1099511628211ull;
    }
};

// Regular files of a folder, by name, at most limit of them.
std::vector<std::string> files_in(const std::string &dir, size_t limit) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (e->d_type == DT_REG) names.push_back(dir + "/" + e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    if (names.size() > limit) names.resize(limit);
    return names;
}

class Threads : public ModuleTest {
protected:
    // Everything a scanner would ask of one file, folded into one number.
    uint64_t walk(const std::string &path) {
        digest d;
        uint32_t handle = kqhost_open_file(host_, path.c_str());
        scan_file *f = kqhelp::call<SLOT_SCAN_FILE_CREATE>(api_, ctx(), instance(), &handle);
        if (!f) return kqhost_close_file(host_, handle), 0;
        uint64_t size = 0, got = 0, position = 0;
        kqhelp::call<SLOT_SCAN_FILE_GET_SIZE>(api_, f, &size);
        const uint8_t *head = kqhelp::call<SLOT_FILE_GET_REGION>(api_, f, REGION_HEAD, &got);
        d.add(head, got);
        const uint64_t head_size = head ? got : 0;
        d.add(kqhelp::call<SLOT_FILE_GET_REGION>(api_, f, REGION_TAIL, &got), got);
        for (int32_t kind = REGION_AT_OFFSET; kind <= REGION_AROUND_ENTRY; kind++)
            for (int64_t offset : {int64_t(0), int64_t(size / 2), int64_t(size) - 1}) {
                const uint8_t *w = kqhelp::call<SLOT_FILE_GET_WINDOW>(api_, f, kind, offset, &got, &position);
                d.add(w, w ? got : 0);
                d.add(position);
            }
        uint32_t n32 = 0, n64 = 0;
        d.add(kqhelp::call<SLOT_PE_GET_DOS_HEADER>(api_, f), PE_DOS_HEADER_SIZE);
        d.add(kqhelp::call<SLOT_PE_GET_NT_HEADERS32>(api_, f), PE_NT_HEADERS32_SIZE);
        d.add(kqhelp::call<SLOT_PE_GET_NT_HEADERS64>(api_, f), PE_NT_HEADERS64_SIZE);
        d.add(kqhelp::call<SLOT_PE_GET_SECTIONS32>(api_, f, &n32), 0);
        d.add(kqhelp::call<SLOT_PE_GET_SECTIONS64>(api_, f, &n64), 0);
        d.add(kqhelp::call<SLOT_PE_GET_NE_HEADER>(api_, f), PE_NE_HEADER_SIZE);
        d.add(n32 * 1000 + n64);
        d.add(kqhelp::call<SLOT_PE_GET_OVERLAY>(api_, f, &got));
        d.add(got);
        if (elf_reader *r = kqhelp::call<SLOT_ELF_READER_GET>(api_, f)) {
            d.add(uint64_t(kqhelp::call<SLOT_ELF_CHECK>(api_, r, 1)));
            d.add(kqhelp::call<SLOT_ELF_GET_SECTION_COUNT>(api_, r));
            d.add(kqhelp::call<SLOT_ELF_GET_SEGMENT_COUNT>(api_, r));
            d.add(kqhelp::call<SLOT_ELF_GET_IMAGE_BASE>(api_, r));
            const elf_section *text = nullptr;
            d.add(uint64_t(kqhelp::call<SLOT_ELF_GET_SECTION_BY_NAME>(api_, r, ".text", &text)));
            if (text) d.add(text->sh_offset);
        }
        if (head_size >= 64) {  // a pattern taken from the file, and the XOR scan of its head
            d.add(uint64_t(kqhelp::call<SLOT_SEARCH_BUFFER>(api_, ctx(), instance(), head, head + 40, 6, 1,
                                                            int32_t(head_size) - 1)));
            d.add(uint64_t(kqhelp::call<SLOT_SEARCH_BUFFER_NOCASE>(api_, ctx(), instance(), head, head + 56, 5, 0,
                                                                   int32_t(head_size))));
            std::vector<uint8_t> source(head, head + std::min<uint64_t>(head_size, 4096)), decoded(source.size());
            uint8_t key_byte = 0;
            uint32_t key_word = 0;
            d.add(uint64_t(kqhelp::call<SLOT_XORDETECT_SCAN_BUFFER>(api_, source.data(), decoded.data(), &key_byte,
                                                                    &key_word, uint32_t(source.size()))));
            d.add(key_byte);
            d.add(key_word);
        }
        kqhelp::call<SLOT_SCAN_FILE_DESTROY>(api_, ctx(), instance(), f);
        kqhost_close_file(host_, handle);
        return d.h;
    }
};

TEST_F(Threads, EightThreadsAgreeWithOneAndLeaveNothingLive) {
    std::vector<std::string> files = files_in(KQHELP_HOSTILE_DIR, 100000);
    ASSERT_GT(files.size(), 300u) << "the hostile files were not generated";
    for (const char *dir : {"/usr/bin", "/usr/lib/x86_64-linux-gnu", "/usr/lib/i386-linux-gnu"})
        for (const std::string &path : files_in(dir, 12)) files.push_back(path);

    std::map<std::string, uint64_t> expected;
    for (const std::string &path : files) expected[path] = walk(path);

    constexpr int kThreads = 8;
    const size_t per_thread = std::max<size_t>(1000, files.size());
    std::vector<std::vector<std::pair<size_t, uint64_t>>> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([&, t] {
            for (size_t i = 0; i < per_thread; i++) {  // each thread starts elsewhere and steps differently
                size_t k = (t * 131 + i * (2 * t + 1)) % files.size();
                results[t].emplace_back(k, walk(files[k]));
            }
        });
    for (std::thread &th : threads) th.join();

    size_t mismatches = 0;
    for (const auto &per : results)
        for (const auto &[k, got] : per)
            if (got != expected[files[k]] && mismatches++ < 5) ADD_FAILURE() << files[k] << " differs across threads";
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(live_blocks(), 0u);
}

}  // namespace
}  // namespace kqtest
