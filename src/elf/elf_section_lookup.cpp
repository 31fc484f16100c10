// The section-name string table (at most 32,768 bytes) and the lookups of
// sections by name, virtual address and physical address.
#include <string.h>

#include "elf/elf_reader.h"
#include "module/slots.h"

namespace kq {

int32_t elf_load_section_names(elf_reader *r, const char **out, uint32_t *size) {
    const elf_header *h = nullptr;
    if (!r || elf_get_header(r, &h) != 0) return -1;
    if (h->e_shstrndx == kShnUndef) return elf_fail(r, ELF_ERR_NO_SECTION_NAMES, -1);
    if (!r->section_names) {
        uint32_t index = h->e_shstrndx;
        const elf_section *record = nullptr;
        if (index == kShnXindex) {
            if (elf_get_section_by_index(r, 0, &record) != 0) return -1;
            index = record->sh_link;
        }
        if (elf_get_section_by_index(r, index, &record) != 0) return -1;
        uint64_t bytes = record->sh_size < kElfMaxSectionNames ? record->sh_size : kElfMaxSectionNames;
        auto *names = static_cast<char *>(host_of(r).alloc(bytes));
        if (!names) return elf_fail(r, ELF_ERR_NO_MEMORY, -1);
        uint8_t *dest = reinterpret_cast<uint8_t *>(names);
        if (elf_read(r, &dest, bytes, record->sh_offset) != bytes) {
            host_of(r).free(names);
            return -1;
        }
        r->section_names = names;
        r->section_names_size = static_cast<uint32_t>(bytes);
    }
    if (out) *out = r->section_names;
    if (size) *size = r->section_names_size;
    return 0;
}

namespace {

// A name must end inside the loaded table: one that runs off its end (cut
// by the 32,768-byte cap or by a malformed file) is not a name.
const char *name_at(const elf_reader *r, uint32_t offset) {
    if (offset >= r->section_names_size) return nullptr;
    const char *start = r->section_names + offset;
    return memchr(start, 0, r->section_names_size - offset) ? start : nullptr;
}

// Whether the name at offset equals wanted (length len) and ends there; it
// touches at most len + 1 bytes, so a walk costs no more than the names asked.
bool name_equals(const elf_reader *r, uint32_t offset, const char *wanted, uint64_t len) {
    if (offset >= r->section_names_size) return false;
    uint64_t room = r->section_names_size - offset;
    if (room < len + 1) return false;
    const char *start = r->section_names + offset;
    return start[len] == 0 && memcmp(start, wanted, static_cast<size_t>(len)) == 0;
}

void ensure_section_table(elf_reader *r) {
    const elf_section *table = nullptr;
    if (r->section_count == 0) elf_get_section_table(r, &table, nullptr);
}

}  // namespace
}  // namespace kq

using namespace kq;

extern "C" const char *elf_get_section_name(elf_reader *r, const elf_section *record) {
    if (!r || !record) return nullptr;
    if (elf_load_section_names(r, nullptr, nullptr) != 0) return nullptr;
    return name_at(r, record->sh_name);
}

extern "C" int32_t elf_get_section_by_name(elf_reader *r, const char *name, const elf_section **out) {
    if (!r || !name) return -1;
    ensure_section_table(r);
    // The names are loaded once for the walk; without them no record has a name.
    if (r->section_count != 0 && elf_load_section_names(r, nullptr, nullptr) == 0) {
        uint64_t len = strlen(name);
        for (uint32_t i = 0; i < r->section_count; i++) {
            if (!name_equals(r, r->sections[i].sh_name, name, len)) continue;
            if (out) *out = &r->sections[i];
            return 0;
        }
    }
    return elf_fail(r, ELF_ERR_NO_SECTION, -1);
}

extern "C" int32_t elf_get_section_by_virtual_address(elf_reader *r, uint64_t address, const elf_section **out) {
    if (!r) return -1;
    ensure_section_table(r);
    for (uint32_t i = 0; i < r->section_count; i++) {
        const elf_section &s = r->sections[i];
        if (s.sh_addr == 0 && !(s.sh_flags & kShfAlloc)) continue;
        // An empty section still names its address.
        if (!range_holds(s.sh_addr, s.sh_size, address) && !empty_range_at(s.sh_addr, s.sh_size, address)) continue;
        if (out) *out = &s;
        return 0;
    }
    return elf_fail(r, ELF_ERR_NO_SECTION, -1);
}

extern "C" int32_t elf_get_section_by_physical_address(elf_reader *r, uint64_t address, const elf_section **out) {
    if (!r) return -1;
    const elf_segment *segment = nullptr;
    if (elf_get_segment_by_physical_address(r, address, &segment) != 0) {
        if (r->last_error == ELF_ERR_NO_SEGMENT) r->last_error = ELF_ERR_NO_SECTION;
        return -1;
    }
    return elf_get_section_by_virtual_address(r, address - segment->p_paddr + segment->p_vaddr, out);
}
