// The module frame under a failing host: a file and a fault taken from the
// input (the Nth allocation, read or seek fails, or reads come short), then a
// sequence of scan_file operations: regions, every window kind at offsets
// from the input, the PE records, the ELF reader, user words, reset. Every byte handed out is
// compared with the file where its offset is known; after destroy no host
// block may be live.
#include <algorithm>

#include "linked_host.h"

namespace {

enum fault { NONE, ALLOC_AT, READ_AT, SEEK_AT, SHORT_READS, FAULTS };

struct frame {
    const uint8_t *file_bytes;
    uint64_t size;
    fault mode;
    scan_file *file;
    uint32_t user[3];

    // Bytes [start, start + got) of the file, where the module says they came from.
    void check_bytes(const uint8_t *data, uint64_t got, uint64_t start) const {
        FUZZ_REQUIRE(got <= REGION_SIZE);
        if (!data || mode == SEEK_AT) return;  // a failed seek leaves the read where the last one ended
        FUZZ_REQUIRE(start <= size && got <= size - start);
        FUZZ_REQUIRE(memcmp(data, file_bytes + start, got) == 0);
    }

    void region(int32_t kind) {
        uint64_t got = 1;
        const uint8_t *r = kqhelp::call<SLOT_FILE_GET_REGION>(fuzz_api(), file, kind, &got);
        FUZZ_REQUIRE(r ? got > 0 : got == 0);
        bool tail = kind == REGION_TAIL || kind == REGION_TAIL_IF_LOADED;
        check_bytes(r, got, tail && size >= REGION_SIZE ? size - REGION_SIZE : 0);
    }

    void window(int32_t kind, int64_t offset) {
        uint64_t got = 1, position = 0;
        const uint8_t *w = kqhelp::call<SLOT_FILE_GET_WINDOW>(fuzz_api(), file, kind, offset, &got, &position);
        FUZZ_REQUIRE(w ? got > 0 : got == 0);
        // For offsets the caller names, the window holds the offset at position.
        bool named = (kind == REGION_AT_OFFSET || kind == REGION_AROUND_OFFSET) && offset >= 0;
        if (w && named && position <= uint64_t(offset)) check_bytes(w, got, uint64_t(offset) - position);
        else if (w) FUZZ_REQUIRE(got <= REGION_SIZE);
    }

    void pe_records() {
        uint32_t n = 0;
        const uint8_t *dos = kqhelp::call<SLOT_PE_GET_DOS_HEADER>(fuzz_api(), file);
        if (dos) check_bytes(dos, PE_DOS_HEADER_SIZE, 0);
        if (kqhelp::call<SLOT_PE_GET_SECTIONS32>(fuzz_api(), file, &n)) FUZZ_REQUIRE(n >= 1 && n <= PE_MAX_SECTIONS);
        if (kqhelp::call<SLOT_PE_GET_SECTIONS64>(fuzz_api(), file, &n)) FUZZ_REQUIRE(n >= 1 && n <= PE_MAX_SECTIONS);
        kqhelp::call<SLOT_PE_GET_NT_HEADERS32>(fuzz_api(), file);
        kqhelp::call<SLOT_PE_GET_NT_HEADERS64>(fuzz_api(), file);
        kqhelp::call<SLOT_PE_GET_NE_HEADER>(fuzz_api(), file);
        uint64_t overlay_size = 0;
        uint64_t overlay = kqhelp::call<SLOT_PE_GET_OVERLAY>(fuzz_api(), file, &overlay_size);
        FUZZ_REQUIRE(overlay <= size && overlay_size <= size);
    }

    // The ELF reader attaches to the same scan_file; under faults its tables
    // are present with their counts, or absent.
    bool elf_used = false;
    void elf() {
        elf_used = true;
        elf_reader *r = kqhelp::call<SLOT_ELF_READER_GET>(fuzz_api(), file);
        if (!r) return;
        kqhelp::call<SLOT_ELF_CHECK>(fuzz_api(), r, 1);
        const elf_section *sections = nullptr;
        const elf_segment *segments = nullptr;
        uint32_t n = 0;  // 0 in: the reader's own cap
        if (kqhelp::call<SLOT_ELF_GET_SECTION_TABLE>(fuzz_api(), r, &sections, &n) == 0 && n)
            FUZZ_REQUIRE(sections && n <= 8192);
        n = 0;  // a count given in asks for at most that many
        if (kqhelp::call<SLOT_ELF_GET_SEGMENT_TABLE>(fuzz_api(), r, &segments, &n) == 0 && n)
            FUZZ_REQUIRE(segments && n <= 256);
        kqhelp::call<SLOT_ELF_GET_IMAGE_BASE>(fuzz_api(), r);
    }
    uint64_t bound() const { return elf_used ? fuzz_bound::elf + fuzz_bound::pe : fuzz_bound::pe; }

    void user_words(fuzz_input &in) {
        uint32_t which = in.u8() % 3, value = in.u32();
        if (which == 0) kqhelp::call<SLOT_SCAN_FILE_SET_USER1>(fuzz_api(), file, value);
        if (which == 1) kqhelp::call<SLOT_SCAN_FILE_SET_USER2>(fuzz_api(), file, value);
        if (which == 2) kqhelp::call<SLOT_SCAN_FILE_SET_USER3>(fuzz_api(), file, value);
        user[which] = value;
        FUZZ_REQUIRE(kqhelp::call<SLOT_SCAN_FILE_GET_USER1>(fuzz_api(), file) == user[0]);
        FUZZ_REQUIRE(kqhelp::call<SLOT_SCAN_FILE_GET_USER2>(fuzz_api(), file) == user[1]);
        FUZZ_REQUIRE(kqhelp::call<SLOT_SCAN_FILE_GET_USER3>(fuzz_api(), file) == user[2]);
    }
};

int64_t offset_from(fuzz_input &in, uint64_t size) {
    switch (in.u8() % 4) {
    case 0: return int64_t(in.u64());                  // anything, negative included
    case 1: return int64_t(in.u32() % (size + 1));      // inside the file
    case 2: return int64_t(size) - int64_t(in.u16());   // near the end
    default: return -1;                                 // the entry point
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_input in{data, size};
    kqhost *host = fuzz_host();
    const fault mode = fault(in.u8() % FAULTS);
    const uint64_t nth = in.u8();
    const uint32_t ops = in.u16();
    // Then 64 bytes of operations; the rest is the file.
    fuzz_input op{in.p, std::min<size_t>(in.n, 64)};
    const uint8_t *file_bytes = in.p + op.n;
    const size_t file_size = in.n - op.n;

    uint32_t handle = kqhost_open_memory(host, file_bytes, file_size);
    kqhost_reset_peak(host);
    kqhost_fail_alloc_at(host, mode == ALLOC_AT ? nth : 0);
    kqhost_fail_read_at(host, mode == READ_AT ? nth : 0);
    kqhost_fail_seek_at(host, mode == SEEK_AT ? nth : 0);
    kqhost_short_reads(host, mode == SHORT_READS ? nth * 97 + 1 : 0);

    frame f{file_bytes, file_size, mode, nullptr, {0, 0, 0}};
    f.file = kqhelp::call<SLOT_SCAN_FILE_CREATE>(fuzz_api(), kqhost_context(host), kqhost_instance(host), &handle);
    // Creation fails only when its one allocation does.
    FUZZ_REQUIRE(f.file || (mode == ALLOC_AT && nth == 1));
    if (f.file) {
        uint64_t reported = 0;
        kqhelp::call<SLOT_SCAN_FILE_GET_SIZE>(fuzz_api(), f.file, &reported);
        FUZZ_REQUIRE(reported == file_size);
        for (uint32_t i = 0; i < ops % 32 && !op.empty(); i++) {
            switch (op.u8() % 7) {
            case 0: f.region(int32_t(op.u8() % 12)); break;
            case 1: f.window(int32_t(op.u8() % 12), offset_from(op, file_size)); break;
            case 2: f.pe_records(); break;
            case 3: f.user_words(op); break;
            case 4:
                kqhelp::call<SLOT_SCAN_FILE_RESET>(fuzz_api(), f.file, handle);
                f.user[0] = f.user[1] = f.user[2] = 0;
                f.user_words(op);
                break;
            case 5: f.elf(); break;
            default: fuzz_check_peak(f.bound()); break;
            }
        }
        kqhelp::call<SLOT_SCAN_FILE_DESTROY>(fuzz_api(), kqhost_context(host), kqhost_instance(host), f.file);
    }
    kqhost_fail_alloc_at(host, 0);
    kqhost_fail_read_at(host, 0);
    kqhost_fail_seek_at(host, 0);
    kqhost_short_reads(host, 0);
    kqhost_close_file(host, handle);
    fuzz_check_peak(f.bound());
    fuzz_check_nothing_live();
    return 0;
}
