// Feeds one arbitrary file through every PE slot and every window kind at a
// few offsets, under ASan and UBSan; every host block must come back.
#include <stdio.h>
#include <stdlib.h>

#include <initializer_list>

#include "common/bounds.h"
#include "linked_host.h"

using kq::load_le32;

// Under qemu-i386 the 32-bit address space is tight: a small quarantine
// keeps ASan's allocator from running out of it; leaks are counted by the
// host instead of LeakSanitizer, which cannot stop the world under qemu.
extern "C" const char *__asan_default_options() { return "quarantine_size_mb=16:malloc_context_size=8:detect_leaks=0"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    kqhost *host = fuzz_host();
    uint32_t handle = kqhost_open_memory(host, data, size);
    kqhost_reset_peak(host);
    scan_file *file = kqhelp::call<SLOT_SCAN_FILE_CREATE>(fuzz_api(), kqhost_context(host),
                                                                             kqhost_instance(host), &handle);
    if (!file) abort();

    uint32_t n32 = 0, n64 = 0;
    const uint8_t *dos = kqhelp::call<SLOT_PE_GET_DOS_HEADER>(fuzz_api(), file);
    const uint8_t *nt32 = kqhelp::call<SLOT_PE_GET_NT_HEADERS32>(fuzz_api(), file);
    const uint8_t *s32 = kqhelp::call<SLOT_PE_GET_SECTIONS32>(fuzz_api(), file, &n32);
    const uint8_t *nt64 = kqhelp::call<SLOT_PE_GET_NT_HEADERS64>(fuzz_api(), file);
    const uint8_t *s64 = kqhelp::call<SLOT_PE_GET_SECTIONS64>(fuzz_api(), file, &n64);
    const uint8_t *ne = kqhelp::call<SLOT_PE_GET_NE_HEADER>(fuzz_api(), file);
    // Touch every byte of every record so that ASan checks the sizes.
    uint8_t sink = 0;  // handed to an empty asm at the end so nothing is optimised away
    if (dos) for (int i = 0; i < 64; i++) sink ^= dos[i];
    if (nt32) for (int i = 0; i < 248; i++) sink ^= nt32[i];
    if (nt64) for (int i = 0; i < 264; i++) sink ^= nt64[i];
    if (ne) for (int i = 0; i < 64; i++) sink ^= ne[i];
    if (s32 && (n32 == 0 || n32 > 256)) abort();
    if (s64 && (n64 == 0 || n64 > 256)) abort();
    if (s32) for (uint32_t i = 0; i < n32 * PE_SECTION_HEADER_SIZE; i++) sink ^= s32[i];
    if (s64) for (uint32_t i = 0; i < n64 * PE_SECTION_HEADER_SIZE; i++) sink ^= s64[i];

    // The lookups over whichever table there is, at values taken from it.
    const uint8_t *table = s32 ? s32 : s64;
    int32_t count = int32_t(s32 ? n32 : n64);
    if (table) {
        for (int32_t i = 0; i < count && i < 4; i++) {
            const uint8_t *record = table + PE_SECTION_HEADER_SIZE * i;
            uint32_t va = load_le32(record + PE_SECTION_VIRTUAL_ADDRESS), raw = load_le32(record + PE_SECTION_POINTER_TO_RAW_DATA);
            for (uint32_t v : {va, va - 1, raw, raw + 1, 0xFFFFFFFFu}) {
                kqhelp::call<SLOT_PE_FIND_SECTION_BY_RVA>(fuzz_api(), count, table, v);
                kqhelp::call<SLOT_PE_FIND_SECTION_BY_OFFSET>(fuzz_api(), count, table, v);
                kqhelp::call<SLOT_PE_RVA_TO_OFFSET>(fuzz_api(), count, table, v);
                kqhelp::call<SLOT_PE_OFFSET_TO_RVA>(fuzz_api(), count, table, v);
                kqhelp::call<SLOT_PE_RVA_TO_OFFSET_EX>(fuzz_api(), count, table, v);
                kqhelp::call<SLOT_PE_OFFSET_TO_RVA_EX>(fuzz_api(), count, table, v);
            }
        }
    }
    uint64_t overlay_size = 0;
    uint64_t overlay = kqhelp::call<SLOT_PE_GET_OVERLAY>(fuzz_api(), file, &overlay_size);
    if (overlay_size > size || overlay > size) abort();

    auto get_window = kqhelp::slot<SLOT_FILE_GET_WINDOW>(fuzz_api());
    int64_t end = int64_t(size);
    for (int32_t kind : {3, 4, 5, 6, 7, 8, 9})
        for (int64_t offset : {int64_t(-1), int64_t(0), int64_t(7), end / 2, end - 1, end, end + 1, int64_t(-9)}) {
            uint64_t got = 0, position = 0;
            const uint8_t *w = get_window(file, kind, offset, &got, &position);
            if (!w) {
                if (got) abort();
                continue;
            }
            if (got == 0 || got > REGION_SIZE) abort();
            for (uint64_t i = 0; i < got; i += 997) sink ^= w[i];
            sink ^= w[got - 1];
        }
    __asm__ volatile("" : : "r"(sink));  // the reads stay: ASan must see them

    kqhelp::call<SLOT_SCAN_FILE_DESTROY>(fuzz_api(), kqhost_context(host), kqhost_instance(host), file);
    kqhost_close_file(host, handle);
    fuzz_check_peak(fuzz_bound::pe);
    fuzz_check_nothing_live();
    return 0;
}
