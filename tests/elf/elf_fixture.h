// The ELF slots, typed, over the module loaded by the reference host.
#pragma once

#include "support/elf_image.h"
#include "support/module_fixture.h"

namespace kqtest {

class ElfTest : public ModuleTest {
protected:
    // The reader of a new scan_file over data (null when the module gives none).
    elf_reader *reader_for(const bytes &data) { return get(create(data)); }
    elf_reader *reader_for(elf_image &img) { return reader_for(img.build()); }

    elf_reader *get(scan_file *f) { return slot<elf_reader_get_fn>(SLOT_ELF_READER_GET)(f); }
    int32_t check(elf_reader *r, int deep) { return slot<elf_check_fn>(SLOT_ELF_CHECK)(r, deep); }
    int32_t last_error(elf_reader *r) { return slot<elf_get_last_error_fn>(SLOT_ELF_GET_LAST_ERROR)(r); }
    uint32_t get_class(elf_reader *r) { return slot<elf_get_class_fn>(SLOT_ELF_GET_CLASS)(r); }
    uint32_t encoding(elf_reader *r) { return slot<elf_get_encoding_fn>(SLOT_ELF_GET_ENCODING)(r); }
    const elf_header *header(elf_reader *r) {
        const elf_header *h = nullptr;
        return slot<elf_get_header_fn>(SLOT_ELF_GET_HEADER)(r, &h) == 0 ? h : nullptr;
    }
    uint64_t read(elf_reader *r, uint8_t **buf, uint64_t count, uint64_t offset) {
        return slot<elf_read_fn>(SLOT_ELF_READ)(r, buf, count, offset);
    }
    uint32_t section_count(elf_reader *r) { return slot<elf_get_section_count_fn>(SLOT_ELF_GET_SECTION_COUNT)(r); }
    int32_t sections(elf_reader *r, const elf_section **out, uint32_t *n) {
        return slot<elf_get_section_table_fn>(SLOT_ELF_GET_SECTION_TABLE)(r, out, n);
    }
    const elf_section *section(elf_reader *r, uint32_t i) {
        const elf_section *s = nullptr;
        return slot<elf_get_section_by_index_fn>(SLOT_ELF_GET_SECTION_BY_INDEX)(r, i, &s) == 0 ? s : nullptr;
    }
    const elf_section *section_named(elf_reader *r, const char *name) {
        const elf_section *s = nullptr;
        return slot<elf_get_section_by_name_fn>(SLOT_ELF_GET_SECTION_BY_NAME)(r, name, &s) == 0 ? s : nullptr;
    }
    const char *name_of(elf_reader *r, const elf_section *s) {
        return slot<elf_get_section_name_fn>(SLOT_ELF_GET_SECTION_NAME)(r, s);
    }
    const elf_section *section_at_va(elf_reader *r, uint64_t a) {
        const elf_section *s = nullptr;
        return slot<elf_get_section_by_virtual_address_fn>(SLOT_ELF_GET_SECTION_BY_VIRTUAL_ADDRESS)(r, a, &s) == 0 ? s
                                                                                                              : nullptr;
    }
    const elf_section *section_at_pa(elf_reader *r, uint64_t a) {
        const elf_section *s = nullptr;
        return exported<elf_get_section_by_physical_address_fn>("elf_get_section_by_physical_address")(r, a, &s) == 0
                   ? s
                   : nullptr;
    }
    uint32_t segment_count(elf_reader *r) { return slot<elf_get_segment_count_fn>(SLOT_ELF_GET_SEGMENT_COUNT)(r); }
    int32_t segments(elf_reader *r, const elf_segment **out, uint32_t *n) {
        return slot<elf_get_segment_table_fn>(SLOT_ELF_GET_SEGMENT_TABLE)(r, out, n);
    }
    const elf_segment *segment(elf_reader *r, uint32_t i) {
        const elf_segment *p = nullptr;
        return slot<elf_get_segment_by_index_fn>(SLOT_ELF_GET_SEGMENT_BY_INDEX)(r, i, &p) == 0 ? p : nullptr;
    }
    const elf_segment *segment_at_va(elf_reader *r, uint64_t a) {
        const elf_segment *p = nullptr;
        return slot<elf_get_segment_by_virtual_address_fn>(SLOT_ELF_GET_SEGMENT_BY_VIRTUAL_ADDRESS)(r, a, &p) == 0 ? p
                                                                                                              : nullptr;
    }
    const elf_segment *segment_at_pa(elf_reader *r, uint64_t a) {
        const elf_segment *p = nullptr;
        return slot<elf_get_segment_by_physical_address_fn>(SLOT_ELF_GET_SEGMENT_BY_PHYSICAL_ADDRESS)(r, a, &p) == 0
                   ? p
                   : nullptr;
    }
    uint64_t image_base(elf_reader *r) { return slot<elf_get_image_base_fn>(SLOT_ELF_GET_IMAGE_BASE)(r); }
    uint64_t va_to_offset(elf_reader *r, uint64_t va) {
        return slot<elf_get_file_offset_by_virtual_address_fn>(SLOT_ELF_GET_FILE_OFFSET_BY_VIRTUAL_ADDRESS)(r, va);
    }
    uint64_t offset_to_va(elf_reader *r, uint64_t off) {
        return slot<elf_get_virtual_address_by_file_offset_fn>(SLOT_ELF_GET_VIRTUAL_ADDRESS_BY_FILE_OFFSET)(r, off);
    }
    void free_block(void *p) { kqhost_services(host_)->free(ctx(), instance(), p); }
};

}  // namespace kqtest
