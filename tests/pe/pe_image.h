// Synthetic MS-DOS/PE/NE images for the PE reader tests. Every byte of the file that no header covers holds
// fill_byte(offset), so a window can be checked against the offset it claims to start at.
#pragma once

#include <string.h>

#include <algorithm>
#include <vector>

#include "kqhelp/kqhelp.h"

namespace kqtest {

using bytes = std::vector<uint8_t>;

inline uint8_t fill_byte(uint64_t offset) { return static_cast<uint8_t>(offset ^ (offset >> 8) ^ (offset >> 16)); }
inline bytes numbered(uint64_t n) {
    bytes b(n);
    for (uint64_t i = 0; i < n; i++) b[i] = fill_byte(i);
    return b;
}
inline void put_le(bytes &b, uint64_t at, uint64_t v, int width) {
    if (at + width > b.size()) b.resize(at + width);
    for (int i = 0; i < width; i++) b[at + i] = uint8_t(v >> (8 * i));
}
inline void put16(bytes &b, uint64_t at, uint16_t v) { put_le(b, at, v, 2); }
inline void put32(bytes &b, uint64_t at, uint32_t v) { put_le(b, at, v, 4); }
inline void put_dos_header(bytes &b, uint32_t lfanew) { memset(b.data(), 0, 64), memcpy(b.data(), "MZ", 2), put32(b, 0x3C, lfanew); }

struct section_spec { uint32_t virtual_size, virtual_address, raw_size, raw_pointer; const char *name = ".text"; };

struct pe_spec {
    bool plus = false;                 // PE32+ instead of PE32
    uint32_t lfanew = 0x80;
    int32_t number_of_sections = -1;   // -1: the number of sections given
    int32_t optional_size = -1;        // -1: 224 for PE32, 240 for PE32+
    uint32_t entry = 0x1000;
    uint32_t file_alignment = 0x200;
    std::vector<section_spec> sections;
    uint64_t file_size = 0;            // 0: just enough for headers and section data
};

inline uint32_t optional_size_of(const pe_spec &s) {
    return s.optional_size >= 0 ? uint32_t(s.optional_size) : (s.plus ? 240u : 224u);
}
inline uint64_t section_table_offset(const pe_spec &s) { return uint64_t(s.lfanew) + 24 + optional_size_of(s); }

inline bytes build_pe(const pe_spec &s) {
    const uint64_t nt = s.lfanew, table = section_table_offset(s);
    uint64_t end = table + 40 * s.sections.size(), size = s.file_size;
    for (const section_spec &sec : s.sections) end = std::max(end, size ? 0 : uint64_t(sec.raw_pointer) + sec.raw_size);
    bytes b = numbered(std::max(size, end));
    put_dos_header(b, s.lfanew);
    memset(b.data() + nt, 0, 24 + optional_size_of(s));
    put32(b, nt, 0x4550), put16(b, nt + 4, s.plus ? 0x8664 : 0x14C);
    put16(b, nt + 6, uint16_t(s.number_of_sections >= 0 ? s.number_of_sections : int32_t(s.sections.size())));
    put16(b, nt + 20, uint16_t(optional_size_of(s))), put16(b, nt + 24, s.plus ? 0x20B : 0x10B);
    put32(b, nt + 40, s.entry), put32(b, nt + 56, 0x1000), put32(b, nt + 60, s.file_alignment);
    for (size_t i = 0; i < s.sections.size(); i++) {
        const section_spec &sec = s.sections[i];
        const uint64_t at = table + 40 * i;
        memset(b.data() + at, 0, 40), strncpy(reinterpret_cast<char *>(b.data() + at), sec.name, 8);
        put32(b, at + 8, sec.virtual_size), put32(b, at + 12, sec.virtual_address);
        put32(b, at + 16, sec.raw_size), put32(b, at + 20, sec.raw_pointer);
    }
    b.resize(size ? size : end);  // a smaller file_size cuts the image short
    return b;
}

// A plain two-section image whose entry point lies in .text.
inline pe_spec two_sections(bool plus = false) {
    pe_spec s;
    s.plus = plus, s.entry = 0x1010;
    s.sections = {{0x800, 0x1000, 0x800, 0x400, ".text"}, {0x300, 0x2000, 0x400, 0xC00, ".data"}};
    return s;
}

// An NE image: "NE" at e_lfanew and a plain 64-byte header, cut to size.
inline bytes build_ne(uint32_t lfanew = 0x80, uint64_t size = 0x400) {
    bytes b = numbered(std::max<uint64_t>(size, 64));
    put_dos_header(b, lfanew);
    if (lfanew + 2ull <= b.size()) memcpy(b.data() + lfanew, "NE", 2);
    b.resize(size);
    return b;
}

}  // namespace kqtest
