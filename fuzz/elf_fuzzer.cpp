// One arbitrary file through the whole ELF API: check, header, both tables,
// names, every lookup and translation, reads at offsets taken from the file
// itself; then the scan_file is destroyed and nothing may be left behind.
#include <stdlib.h>
#include <string.h>

#include "linked_host.h"

namespace {

uint64_t word_at(const uint8_t *data, size_t size, size_t at) {
    uint64_t v = 0;
    for (size_t i = 0; i < 8 && at + i < size; i++) v |= static_cast<uint64_t>(data[at + i]) << (8 * i);
    return v;
}

void exercise(elf_reader *r, const uint8_t *data, size_t size) {
    kqhelp::call<SLOT_ELF_CHECK>(fuzz_api(), r, 0);
    kqhelp::call<SLOT_ELF_CHECK>(fuzz_api(), r, 1);
    kqhelp::call<SLOT_ELF_GET_CLASS>(fuzz_api(), r);
    kqhelp::call<SLOT_ELF_GET_ENCODING>(fuzz_api(), r);
    const elf_header *h = nullptr;
    kqhelp::call<SLOT_ELF_GET_HEADER>(fuzz_api(), r, &h);
    kqhelp::call<SLOT_ELF_GET_SECTION_COUNT>(fuzz_api(), r);
    kqhelp::call<SLOT_ELF_GET_SEGMENT_COUNT>(fuzz_api(), r);

    const elf_section *sections = nullptr;
    uint32_t nsec = 0;
    if (kqhelp::call<SLOT_ELF_GET_SECTION_TABLE>(fuzz_api(), r, &sections, &nsec) == 0) {
        for (uint32_t i = 0; i < nsec && i < 64; i++) {
            const char *name = kqhelp::call<SLOT_ELF_GET_SECTION_NAME>(fuzz_api(), r, &sections[i]);
            const elf_section *found = nullptr;
            if (name) kqhelp::call<SLOT_ELF_GET_SECTION_BY_NAME>(fuzz_api(), r, name, &found);
            kqhelp::call<SLOT_ELF_GET_SECTION_BY_VIRTUAL_ADDRESS>(fuzz_api(), r, sections[i].sh_addr, &found);
            kqhelp::call<SLOT_ELF_GET_FILE_OFFSET_BY_VIRTUAL_ADDRESS>(fuzz_api(), r, sections[i].sh_addr + 1);
        }
    }
    const elf_section *s = nullptr;
    kqhelp::call<SLOT_ELF_GET_SECTION_BY_INDEX>(fuzz_api(), r, 1, &s);
    kqhelp::call<SLOT_ELF_GET_SECTION_BY_NAME>(fuzz_api(), r, ".text", &s);

    const elf_segment *segments = nullptr;
    uint32_t nseg = 0;
    if (kqhelp::call<SLOT_ELF_GET_SEGMENT_TABLE>(fuzz_api(), r, &segments, &nseg) == 0) {
        for (uint32_t i = 0; i < nseg && i < 64; i++) {
            const elf_segment *p = segments + i;
            const elf_segment *found = nullptr;
            kqhelp::call<SLOT_ELF_GET_SEGMENT_BY_VIRTUAL_ADDRESS>(fuzz_api(), r, p->p_vaddr, &found);
            kqhelp::call<SLOT_ELF_GET_SEGMENT_BY_PHYSICAL_ADDRESS>(fuzz_api(), r, p->p_paddr,
                                                                                                  &found);
            kqhelp::call<SLOT_ELF_GET_SECTION_BY_PHYSICAL_ADDRESS>(fuzz_api(), r, p->p_paddr, &s);
            kqhelp::call<SLOT_ELF_GET_VIRTUAL_ADDRESS_BY_FILE_OFFSET>(fuzz_api(), r,
                                                                                                      p->p_offset);
        }
    }
    const elf_segment *p = nullptr;
    kqhelp::call<SLOT_ELF_GET_SEGMENT_BY_INDEX>(fuzz_api(), r, 0, &p);
    kqhelp::call<SLOT_ELF_GET_IMAGE_BASE>(fuzz_api(), r);

    // Reads at offsets and of lengths the input chooses (lengths kept small).
    uint64_t offset = word_at(data, size, 24);
    uint64_t count = word_at(data, size, 32) & 0xFFFF;
    uint8_t *buf = nullptr;
    auto read = kqhelp::slot<SLOT_ELF_READ>(fuzz_api());
    // A read that delivers nothing at the end of the file still hands over
    // the block it allocated: the caller frees whatever *buffer holds.
    read(r, &buf, count, offset);
    if (buf) {
        const host_services *svc = kqhost_services(fuzz_host());
        svc->free(kqhost_context(fuzz_host()), kqhost_instance(fuzz_host()), buf);
    }
    uint8_t own[64];
    buf = own;
    read(r, &buf, sizeof own, offset % (size + 1));
    kqhelp::call<SLOT_ELF_GET_FILE_OFFSET_BY_VIRTUAL_ADDRESS>(fuzz_api(), r, offset);
    kqhelp::call<SLOT_ELF_GET_VIRTUAL_ADDRESS_BY_FILE_OFFSET>(fuzz_api(), r, offset);
    kqhelp::call<SLOT_ELF_GET_LAST_ERROR>(fuzz_api(), r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    kqhost *host = fuzz_host();
    uint32_t handle = kqhost_open_memory(host, data, size);
    if (!handle) return 0;
    kqhost_reset_peak(host);
    scan_file *file = kqhelp::call<SLOT_SCAN_FILE_CREATE>(fuzz_api(), kqhost_context(host), kqhost_instance(host),
                                                                       &handle);
    if (file) {
        elf_reader *r = kqhelp::call<SLOT_ELF_READER_GET>(fuzz_api(), file);
        if (r) exercise(r, data, size);
        kqhelp::call<SLOT_SCAN_FILE_DESTROY>(fuzz_api(), kqhost_context(host), kqhost_instance(host), file);
    }
    kqhost_close_file(host, handle);
    fuzz_check_peak(fuzz_bound::elf);
    fuzz_check_nothing_live();
    return 0;
}
