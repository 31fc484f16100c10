// The section header table (at most 8,192 records, with the second pass of
// extended numbering) and its lookups by index.
#include "elf/elf_tables.h"

using namespace kq;

extern "C" int32_t elf_get_section_table(elf_reader *r, const elf_section **out, uint32_t *count) {
    return elf_tables::get_table<section_table>(r, out, count);
}

extern "C" int32_t elf_get_section_by_index(elf_reader *r, uint32_t index, const elf_section **out) {
    return elf_tables::get_by_index<section_table>(r, index, out);
}

extern "C" uint32_t elf_get_section_count(elf_reader *r) {
    const elf_header *h = nullptr;
    if (!r || elf_get_header(r, &h) != 0) return 0;
    if (h->e_shoff == 0) return 0;
    if (h->e_shnum != 0) return h->e_shnum;
    const elf_section *first = nullptr;
    if (elf_get_section_by_index(r, 0, &first) != 0) return 0;
    return static_cast<uint32_t>(first->sh_size);
}
