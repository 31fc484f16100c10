// Slots of the ELF reader that are not built yet answer with their failure values.
#include "module/attached_data.h"
#include "module/host_calls.h"
#include "module/slots.h"

namespace kq {
int32_t elf_attachment_release(scan_file *file, void *attachment) {
    if (file && attachment) host_of(file).free(attachment);
    return 0;
}
}  // namespace kq

extern "C" {
elf_reader *elf_reader_get(scan_file *) { return nullptr; }
uint32_t elf_get_class(elf_reader *) { return 0xFFFFFFFFu; }
int32_t elf_get_header(elf_reader *, const elf_header **) { return -1; }
uint32_t elf_get_section_count(elf_reader *) { return 0; }
int32_t elf_get_section_table(elf_reader *, const elf_section **, uint32_t *) { return -1; }
int32_t elf_get_section_by_index(elf_reader *, uint32_t, const elf_section **) { return -1; }
int32_t elf_get_section_by_name(elf_reader *, const char *, const elf_section **) { return -1; }
const char *elf_get_section_name(elf_reader *, const elf_section *) { return nullptr; }
uint32_t elf_get_segment_count(elf_reader *) { return 0; }
int32_t elf_get_segment_table(elf_reader *, const elf_segment **, uint32_t *) { return -1; }
int32_t elf_get_segment_by_index(elf_reader *, uint32_t, const elf_segment **) { return -1; }
uint64_t elf_get_image_base(elf_reader *) { return ~0ull; }
uint64_t elf_get_file_offset_by_virtual_address(elf_reader *, uint64_t) { return 0; }
uint64_t elf_get_virtual_address_by_file_offset(elf_reader *, uint64_t) { return 0; }
uint64_t elf_read(elf_reader *, uint8_t **, uint64_t, uint64_t) { return 0; }
int32_t elf_check(elf_reader *, int32_t) { return -1; }
int32_t elf_get_section_by_virtual_address(elf_reader *, uint64_t, const elf_section **) { return -1; }
int32_t elf_get_segment_by_virtual_address(elf_reader *, uint64_t, const elf_segment **) { return -1; }
int32_t elf_get_last_error(elf_reader *) { return -1; }
int32_t elf_get_section_by_physical_address(elf_reader *, uint64_t, const elf_section **) { return -1; }
int32_t elf_get_segment_by_physical_address(elf_reader *, uint64_t, const elf_segment **) { return -1; }
uint32_t elf_get_encoding(elf_reader *) { return 0xFFFFFFFFu; }
}
