// The program header table: read once in the class layout (at most 256
// records), normalised once, and looked up by index and address.
#include "elf/elf_tables.h"

namespace kq {

namespace {

// The address lookups: field selects p_vaddr or p_paddr; the size is p_memsz.
int32_t find_segment(elf_reader *r, uint64_t address, uint64_t elf_segment::*field, const elf_segment **out) {
    if (!r) return -1;
    if (r->segment_count == 0) {
        const elf_segment *table = nullptr;
        elf_get_segment_table(r, &table, nullptr);
    }
    for (uint32_t i = 0; i < r->segment_count; i++) {
        const elf_segment &s = r->segments[i];
        uint64_t start = s.*field, size = s.p_memsz;
        if (start == 0 && size == 0) continue;
        // An empty kPtLoad record still names its address.
        bool match = range_holds(start, size, address) || (empty_range_at(start, size, address) && s.p_type == kPtLoad);
        if (!match) continue;
        if (out) *out = &s;
        return 0;
    }
    return elf_fail(r, ELF_ERR_NO_SEGMENT, -1);
}

}  // namespace
}  // namespace kq

using namespace kq;

extern "C" int32_t elf_get_segment_table(elf_reader *r, const elf_segment **out, uint32_t *count) {
    return elf_tables::get_table<segment_table>(r, out, count);
}

extern "C" int32_t elf_get_segment_by_index(elf_reader *r, uint32_t index, const elf_segment **out) {
    return elf_tables::get_by_index<segment_table>(r, index, out);
}

extern "C" int32_t elf_get_segment_by_virtual_address(elf_reader *r, uint64_t address, const elf_segment **out) {
    return find_segment(r, address, &elf_segment::p_vaddr, out);
}

extern "C" int32_t elf_get_segment_by_physical_address(elf_reader *r, uint64_t address, const elf_segment **out) {
    return find_segment(r, address, &elf_segment::p_paddr, out);
}
