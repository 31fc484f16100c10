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
    slot<elf_check_fn>(SLOT_ELF_CHECK)(r, 0);
    slot<elf_check_fn>(SLOT_ELF_CHECK)(r, 1);
    slot<elf_get_class_fn>(SLOT_ELF_GET_CLASS)(r);
    slot<elf_get_encoding_fn>(SLOT_ELF_GET_ENCODING)(r);
    const elf_header *h = nullptr;
    slot<elf_get_header_fn>(SLOT_ELF_GET_HEADER)(r, &h);
    slot<elf_get_section_count_fn>(SLOT_ELF_GET_SECTION_COUNT)(r);
    slot<elf_get_segment_count_fn>(SLOT_ELF_GET_SEGMENT_COUNT)(r);

    const elf_section *sections = nullptr;
    uint32_t nsec = 0;
    if (slot<elf_get_section_table_fn>(SLOT_ELF_GET_SECTION_TABLE)(r, &sections, &nsec) == 0) {
        for (uint32_t i = 0; i < nsec && i < 64; i++) {
            const char *name = slot<elf_get_section_name_fn>(SLOT_ELF_GET_SECTION_NAME)(r, &sections[i]);
            const elf_section *found = nullptr;
            if (name) slot<elf_get_section_by_name_fn>(SLOT_ELF_GET_SECTION_BY_NAME)(r, name, &found);
            slot<elf_get_section_by_virtual_address_fn>(SLOT_ELF_GET_SECTION_BY_VIRTUAL_ADDRESS)(
                r, sections[i].sh_addr, &found);
            slot<elf_get_file_offset_by_virtual_address_fn>(SLOT_ELF_GET_FILE_OFFSET_BY_VIRTUAL_ADDRESS)(
                r, sections[i].sh_addr + 1);
        }
    }
    const elf_section *s = nullptr;
    slot<elf_get_section_by_index_fn>(SLOT_ELF_GET_SECTION_BY_INDEX)(r, 1, &s);
    slot<elf_get_section_by_name_fn>(SLOT_ELF_GET_SECTION_BY_NAME)(r, ".text", &s);

    const elf_segment *segments = nullptr;
    uint32_t nseg = 0;
    if (slot<elf_get_segment_table_fn>(SLOT_ELF_GET_SEGMENT_TABLE)(r, &segments, &nseg) == 0) {
        for (uint32_t i = 0; i < nseg && i < 64; i++) {
            const elf_segment *p = segments + i;
            const elf_segment *found = nullptr;
            slot<elf_get_segment_by_virtual_address_fn>(SLOT_ELF_GET_SEGMENT_BY_VIRTUAL_ADDRESS)(r, p->p_vaddr, &found);
            slot<elf_get_segment_by_physical_address_fn>(SLOT_ELF_GET_SEGMENT_BY_PHYSICAL_ADDRESS)(r, p->p_paddr,
                                                                                                  &found);
            slot<elf_get_section_by_physical_address_fn>(SLOT_ELF_GET_SECTION_BY_PHYSICAL_ADDRESS)(r, p->p_paddr, &s);
            slot<elf_get_virtual_address_by_file_offset_fn>(SLOT_ELF_GET_VIRTUAL_ADDRESS_BY_FILE_OFFSET)(r,
                                                                                                      p->p_offset);
        }
    }
    const elf_segment *p = nullptr;
    slot<elf_get_segment_by_index_fn>(SLOT_ELF_GET_SEGMENT_BY_INDEX)(r, 0, &p);
    slot<elf_get_image_base_fn>(SLOT_ELF_GET_IMAGE_BASE)(r);

    // Reads at offsets and of lengths the input chooses (lengths kept small).
    uint64_t offset = word_at(data, size, 24);
    uint64_t count = word_at(data, size, 32) & 0xFFFF;
    uint8_t *buf = nullptr;
    auto read = slot<elf_read_fn>(SLOT_ELF_READ);
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
    slot<elf_get_file_offset_by_virtual_address_fn>(SLOT_ELF_GET_FILE_OFFSET_BY_VIRTUAL_ADDRESS)(r, offset);
    slot<elf_get_virtual_address_by_file_offset_fn>(SLOT_ELF_GET_VIRTUAL_ADDRESS_BY_FILE_OFFSET)(r, offset);
    slot<elf_get_last_error_fn>(SLOT_ELF_GET_LAST_ERROR)(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    kqhost *host = fuzz_host();
    uint32_t handle = kqhost_open_memory(host, data, size);
    if (!handle) return 0;
    uint64_t before = kqhost_live_blocks(host);
    scan_file *file = slot<scan_file_create_fn>(SLOT_SCAN_FILE_CREATE)(kqhost_context(host), kqhost_instance(host),
                                                                       &handle);
    if (file) {
        elf_reader *r = slot<elf_reader_get_fn>(SLOT_ELF_READER_GET)(file);
        if (r) exercise(r, data, size);
        slot<scan_file_destroy_fn>(SLOT_SCAN_FILE_DESTROY)(kqhost_context(host), kqhost_instance(host), file);
    }
    kqhost_close_file(host, handle);
    if (kqhost_live_blocks(host) != before || kqhost_misuse_count(host) != 0) {
        kqhost_report_leaks(host, stderr);
        abort();
    }
    return 0;
}
