// The image base and the translations between virtual addresses and file
// offsets: through the program headers when the header names a table, else
// through the allocated sections.
#include "elf/elf_tables.h"

namespace kq {
namespace {

// Which side of a record a translation matches on and which it answers with.
template <class R> struct sides {
    uint64_t R::*from;
    uint64_t R::*to;
};

// The first loaded record of table K that maps memory and whose range on the
// from side holds value answers. The table is loaded first, so a fresh reader
// answers like one that has already been asked for it.
template <class K> uint64_t walk(elf_reader *r, uint64_t value, sides<typename K::normalised> side, int32_t miss) {
    const typename K::normalised *table = nullptr;
    elf_tables::get_table<K>(r, &table, nullptr);
    // The loaded records are walked as if fetched one by one: when records
    // are loaded but their normalised table could not be made, fetching the
    // first tries once more, and a second failure ends the walk with 0.
    if (!table && K::raw_count(r) != 0 && elf_tables::get_table<K>(r, &table, nullptr) != 0) return 0;
    // Once made, the normalised table holds every loaded record.
    for (uint32_t i = 0; table && i < K::count(r); i++) {
        const typename K::normalised &s = table[i];
        if (!K::maps_memory(s)) continue;
        if (range_holds(s.*side.from, K::size(s), value)) return value - s.*side.from + s.*side.to;
    }
    return elf_fail(r, miss, uint64_t{0});
}

// Through the program headers when the header names a table, else through
// the allocated sections; neither: 0 and no error.
uint64_t translate(elf_reader *r, uint64_t value, sides<elf_segment> seg, sides<elf_section> sec, int32_t miss) {
    const elf_header *h = nullptr;
    if (!r || elf_get_header(r, &h) != 0) return 0;
    if (h->e_phoff != 0) return walk<segment_table>(r, value, seg, miss);
    if (h->e_shoff != 0) return walk<section_table>(r, value, sec, miss);
    return 0;
}

}  // namespace
}  // namespace kq

using namespace kq;

extern "C" uint64_t elf_get_image_base(elf_reader *r) {
    uint64_t base = ~uint64_t{0};
    const elf_header *h = nullptr;
    if (!r || elf_get_header(r, &h) != 0) return base;
    uint32_t declared = declared_segments(*h);
    if (declared == 0) return base;
    // The walk covers the records loaded (the first 256 at most), so a file
    // with more program headers still has a base.
    const elf_segment *table = nullptr;
    uint32_t loaded = 0;
    if (elf_get_segment_table(r, &table, &loaded) != 0) return base;
    for (uint32_t i = 0; i < declared && i < loaded; i++)
        if (table[i].p_type == kPtLoad && table[i].p_vaddr < base) base = table[i].p_vaddr;
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
