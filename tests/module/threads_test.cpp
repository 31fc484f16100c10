// Eight threads share one loaded module and one reference host, each creating, walking and destroying scan_files over
// real and malformed files; every file's results must equal those of a single-threaded walk, and no host block may stay
// live (the fixture's TearDown).
#include <thread>

#include "support/module_fixture.h"

namespace kqtest {
namespace {

using Threads = ModuleTest;  // the ThreadSanitizer preset runs ^Threads\.

TEST_F(Threads, EightThreadsAgreeWithOneAndLeaveNothingLive) {
    // Everything a scanner would ask of one file, folded into one number.
    auto walk = [this](const std::string &path) -> size_t {
        std::string d;
        auto add = [&](const void *p, uint64_t n) { d += p ? std::string(static_cast<const char *>(p), n) + "|" : "-|"; };
        auto num = [&](uint64_t v) { d += std::to_string(v) + " "; };
        uint32_t handle = kqhost_open_file(host_, path.c_str());
        scan_file *f = call<SLOT_SCAN_FILE_CREATE>(api_, ctx(), instance(), &handle);
        if (!f) return kqhost_close_file(host_, handle), 0;
        uint64_t size = 0, got = 0, head_size = 0, position = 0;
        call<SLOT_SCAN_FILE_GET_SIZE>(api_, f, &size);
        const uint8_t *head = call<SLOT_FILE_GET_REGION>(api_, f, REGION_HEAD, &head_size);
        add(head, head_size), add(call<SLOT_FILE_GET_REGION>(api_, f, REGION_TAIL, &got), got);
        for (int32_t kind = REGION_AT_OFFSET; kind <= REGION_AROUND_ENTRY; kind++)
            for (uint64_t offset : {uint64_t(0), size / 2, size - 1}) {
                const uint8_t *w = call<SLOT_FILE_GET_WINDOW>(api_, f, kind, int64_t(offset), &got, &position);
                add(w, w ? got : 0), num(position);
            }
        uint32_t n32 = 0, n64 = 0;
        add(call<SLOT_PE_GET_DOS_HEADER>(api_, f), PE_DOS_HEADER_SIZE), add(call<SLOT_PE_GET_NE_HEADER>(api_, f), PE_NE_HEADER_SIZE);
        add(call<SLOT_PE_GET_NT_HEADERS32>(api_, f), PE_NT_HEADERS32_SIZE), add(call<SLOT_PE_GET_NT_HEADERS64>(api_, f), PE_NT_HEADERS64_SIZE);
        add(call<SLOT_PE_GET_SECTIONS32>(api_, f, &n32), 0), add(call<SLOT_PE_GET_SECTIONS64>(api_, f, &n64), 0);
        num(n32), num(n64), num(call<SLOT_PE_GET_OVERLAY>(api_, f, &got)), num(got);
        if (elf_reader *r = call<SLOT_ELF_READER_GET>(api_, f)) {
            const elf_section *text = nullptr;
            num(call<SLOT_ELF_CHECK>(api_, r, 1)), num(call<SLOT_ELF_GET_SECTION_COUNT>(api_, r));
            num(call<SLOT_ELF_GET_SEGMENT_COUNT>(api_, r)), num(call<SLOT_ELF_GET_IMAGE_BASE>(api_, r));
            num(call<SLOT_ELF_GET_SECTION_BY_NAME>(api_, r, ".text", &text)), num(text ? text->sh_offset : 0);
        }
        if (head && head_size >= 64) {  // a pattern taken from the file, and the XOR scan of its head
            num(call<SLOT_SEARCH_BUFFER>(api_, ctx(), instance(), head, head + 40, 6, 1, int32_t(head_size) - 1));
            num(call<SLOT_SEARCH_BUFFER_NOCASE>(api_, ctx(), instance(), head, head + 56, 5, 0, int32_t(head_size)));
            bytes source(head, head + std::min<uint64_t>(head_size, 4096)), decoded(source.size());
            uint8_t key_byte = 0;
            uint32_t key_word = 0;
            num(call<SLOT_XORDETECT_SCAN_BUFFER>(api_, source.data(), decoded.data(), &key_byte, &key_word, uint32_t(source.size())));
            num(key_byte), num(key_word);
        }
        call<SLOT_SCAN_FILE_DESTROY>(api_, ctx(), instance(), f), kqhost_close_file(host_, handle);
        return std::hash<std::string>{}(d);
    };
    std::vector<std::string> files = files_in(KQHELP_HOSTILE_DIR);
    ASSERT_GT(files.size(), 300u) << "the hostile files were not generated";
    for (const char *dir : {"/usr/bin", "/usr/lib/x86_64-linux-gnu", "/usr/lib/i386-linux-gnu"})
        for (const std::string &path : files_in(dir, 12)) files.push_back(path);
    std::vector<size_t> expected;
    for (const std::string &path : files) expected.push_back(walk(path));

    constexpr size_t kThreads = 8;
    const size_t per_thread = std::max<size_t>(1000, files.size());
    std::vector<size_t> mismatches(kThreads);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < kThreads; t++)
        threads.emplace_back([&, t] {
            for (size_t i = 0; i < per_thread; i++) {  // each thread starts elsewhere and steps differently
                const size_t k = (t * 131 + i * (2 * t + 1)) % files.size();
                mismatches[t] += walk(files[k]) != expected[k];
            }
        });
    for (std::thread &th : threads) th.join();
    EXPECT_EQ(mismatches, std::vector<size_t>(kThreads)) << "walks per thread that differ from the single-threaded one";
}

}  // namespace
}  // namespace kqtest
