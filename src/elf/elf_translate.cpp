// The image base and the translations between virtual addresses and file
// offsets: through the program headers when the header names a table, else
// through the allocated sections.
#include "elf/elf_reader.h"
#include "module/slots.h"

namespace kq {
namespace {

// Which side of a record a translation matches on and which it answers with.
struct segment_sides {
    uint64_t elf_segment::*from;
    uint64_t elf_segment::*to;
};
struct section_sides {
    uint64_t elf_section::*from;
    uint64_t elf_section::*to;
};

// A walk over the loaded records; the tables are loaded first, so a fresh
// reader answers like one that has already been asked for them.
uint64_t translate(elf_reader *r, uint64_t value, segment_sides seg, section_sides sec, int32_t miss) {
    const elf_header *h = nullptr;
    if (!r || elf_get_header(r, &h) != 0) return 0;
    if (h->e_phoff != 0) {
        const elf_segment *table = nullptr;
        elf_get_segment_table(r, &table, nullptr);
        for (uint32_t i = 0; i < r->segments_raw_count; i++) {
            const elf_segment *s = nullptr;
            if (elf_get_segment_by_index(r, i, &s) != 0) return 0;
            uint64_t start = s->*seg.from;
            if (start <= value && value < start + s->p_memsz) return value - start + s->*seg.to;
        }
        return elf_fail(r, miss, uint64_t{0});
    }
    if (h->e_shoff != 0) {
        const elf_section *table = nullptr;
        elf_get_section_table(r, &table, nullptr);
        for (uint32_t i = 0; i < r->sections_raw_count; i++) {
            const elf_section *s = nullptr;
            if (elf_get_section_by_index(r, i, &s) != 0) return 0;
            if (!(s->sh_flags & SHF_ALLOC)) continue;
            uint64_t start = s->*sec.from;
            if (start <= value && value < start + s->sh_size) return value - start + s->*sec.to;
        }
        return elf_fail(r, miss, uint64_t{0});
    }
    return 0;
}

}  // namespace
}  // namespace kq

using namespace kq;

extern "C" uint64_t elf_get_image_base(elf_reader *r) {
    uint64_t base = ~uint64_t{0};
    const elf_header *h = nullptr;
    if (!r || elf_get_header(r, &h) != 0) return base;
    if (h->e_phnum == 0) return base;
    // The walk covers the records loaded (the first 256 at most), so a file
    // with more program headers still has a base.
    const elf_segment *table = nullptr;
    uint32_t loaded = 0;
    if (elf_get_segment_table(r, &table, &loaded) != 0) return base;
    for (uint32_t i = 0; i < h->e_phnum && i < loaded; i++) {
        const elf_segment *s = nullptr;
        if (elf_get_segment_by_index(r, i, &s) != 0) return ~uint64_t{0};
        if (s->p_type == PT_LOAD && s->p_vaddr < base) base = s->p_vaddr;
    }
    return base;
}

extern "C" uint64_t elf_get_file_offset_by_virtual_address(elf_reader *r, uint64_t address) {
    return translate(r, address, {&elf_segment::p_vaddr, &elf_segment::p_offset},
                     {&elf_section::sh_addr, &elf_section::sh_offset}, ELF_ERR_ADDRESS);
}

extern "C" uint64_t elf_get_virtual_address_by_file_offset(elf_reader *r, uint64_t offset) {
    return translate(r, offset, {&elf_segment::p_offset, &elf_segment::p_vaddr},
                     {&elf_section::sh_offset, &elf_section::sh_addr}, ELF_ERR_OFFSET);
}
