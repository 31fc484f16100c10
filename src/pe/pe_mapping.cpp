// Slots 12-17: pure lookups over a caller's section table. The index lookups
// let the first containing header win, the translations the last one.
#include "module/slots.h"
#include "pe/pe_format.h"

namespace kq {
namespace {

// One direction of translation: what a header must contain, and the value
// it maps to. All sums of two fields wrap at 2^32, as the fields do.
struct by_rva {
    static bool contains(const uint8_t *s, uint32_t rva) {
        uint32_t va = section_virtual_address(s);
        return range_holds(va, section_virtual_size(s), rva) || range_holds(va, section_raw_size(s), rva);
    }
    static uint32_t map(const uint8_t *s, uint32_t rva) {
        return section_raw_pointer(s) + rva - section_virtual_address(s);
    }
};

struct by_offset {
    static bool contains(const uint8_t *s, uint32_t offset) {
        return range_holds(section_raw_pointer(s), section_raw_size(s), offset);
    }
    static uint32_t map(const uint8_t *s, uint32_t offset) {
        return section_virtual_address(s) + offset - section_raw_pointer(s);
    }
};

template <class Dir> int32_t find_first(int32_t count, const uint8_t *sections, uint32_t value) {
    if (!sections) count = 0;
    for (int32_t i = 0; i < count; i++)
        if (Dir::contains(sections + uint64_t(i) * PE_SECTION_HEADER_SIZE, value)) return i;
    return -1;
}

// Values below the lowest VirtualAddress lie in the headers, where RVA and
// file offset are equal; anything else no header contains gets `missing`.
template <class Dir> uint32_t translate(int32_t count, const uint8_t *sections, uint32_t value, uint32_t missing) {
    uint32_t lowest = 0xFFFFFFFFu, result = 0;
    bool found = false;
    if (!sections) count = 0;
    for (int32_t i = 0; i < count; i++) {
        const uint8_t *s = sections + uint64_t(i) * PE_SECTION_HEADER_SIZE;
        uint32_t va = section_virtual_address(s);
        if (va < lowest) lowest = va;
        if (Dir::contains(s, value)) {
            result = Dir::map(s, value);
            found = true;
        }
    }
    if (found) return result;
    return value < lowest ? value : missing;
}

}  // namespace
}  // namespace kq

extern "C" {

int32_t pe_find_section_by_rva(int32_t count, const uint8_t *sections, uint32_t rva) {
    return kq::find_first<kq::by_rva>(count, sections, rva);
}
int32_t pe_find_section_by_offset(int32_t count, const uint8_t *sections, uint32_t offset) {
    return kq::find_first<kq::by_offset>(count, sections, offset);
}
uint32_t pe_rva_to_offset(int32_t count, const uint8_t *sections, uint32_t rva) {
    return kq::translate<kq::by_rva>(count, sections, rva, 0);
}
uint32_t pe_offset_to_rva(int32_t count, const uint8_t *sections, uint32_t offset) {
    return kq::translate<kq::by_offset>(count, sections, offset, 0);
}
uint32_t pe_rva_to_offset_ex(int32_t count, const uint8_t *sections, uint32_t rva) {
    return kq::translate<kq::by_rva>(count, sections, rva, 0xFFFFFFFFu);
}
uint32_t pe_offset_to_rva_ex(int32_t count, const uint8_t *sections, uint32_t offset) {
    return kq::translate<kq::by_offset>(count, sections, offset, 0xFFFFFFFFu);
}

}  // extern "C"
