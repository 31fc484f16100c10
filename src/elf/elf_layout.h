// The ELF records in the class's own layout (Elf32_* and Elf64_* of the ELF
// standard) with every field in host byte order, and the one set of templates
// that decodes them from file bytes of either byte order and widens them into
// the normalised ELF64 records.
#pragma once

#include <string.h>

#include "kqhelp/kqhelp.h"

namespace kq::elf {

struct ehdr32 {
    uint8_t e_ident[16];
    uint16_t e_type;
    uint16_t e_machine;
    uint32_t e_version;
    uint32_t e_entry;
    uint32_t e_phoff;
    uint32_t e_shoff;
    uint32_t e_flags;
    uint16_t e_ehsize;
    uint16_t e_phentsize;
    uint16_t e_phnum;
    uint16_t e_shentsize;
    uint16_t e_shnum;
    uint16_t e_shstrndx;
};

// The ELF64 file layouts are the normalised records themselves.
using ehdr64 = elf_header;  // Elf64_Ehdr

struct shdr32 {
    uint32_t sh_name, sh_type, sh_flags, sh_addr, sh_offset, sh_size, sh_link, sh_info, sh_addralign, sh_entsize;
};

using shdr64 = elf_section;  // Elf64_Shdr

struct phdr32 {
    uint32_t p_type, p_offset, p_vaddr, p_paddr, p_filesz, p_memsz, p_flags, p_align;
};

using phdr64 = elf_segment;  // Elf64_Phdr

static_assert(sizeof(ehdr32) == 52 && sizeof(ehdr64) == 64, "file header layouts");
static_assert(sizeof(shdr32) == 40 && sizeof(shdr64) == 64, "section header layouts");
static_assert(sizeof(phdr32) == 32 && sizeof(phdr64) == 56, "program header layouts");

// The two classes: their record types and EI_CLASS value.
struct class32 {
    using ehdr = ehdr32;
    using shdr = shdr32;
    using phdr = phdr32;
    static constexpr uint8_t id = 1;
};
struct class64 {
    using ehdr = ehdr64;
    using shdr = shdr64;
    using phdr = phdr64;
    static constexpr uint8_t id = 2;
};

// A block the reader holds in its file's class layout; the reader's class
// says which member is live, and as<C> names it through the class traits.
template <class R32, class R64> union class_block {
    void *block;
    R32 *c32;
    R64 *c64;

    template <class C> auto &as() {
        if constexpr (C::id == 1)
            return c32;
        else
            return c64;
    }
};

// Each record's fields in file order, e_ident excepted (it is copied as
// stored). One list per layout serves decoding in both byte orders.
template <class H, class F> void each_header_field(H &h, F &&f) {
    f(h.e_type), f(h.e_machine), f(h.e_version), f(h.e_entry), f(h.e_phoff), f(h.e_shoff), f(h.e_flags);
    f(h.e_ehsize), f(h.e_phentsize), f(h.e_phnum), f(h.e_shentsize), f(h.e_shnum), f(h.e_shstrndx);
}
template <class F> void each_field(ehdr32 &h, F &&f) { each_header_field(h, f); }
template <class F> void each_field(ehdr64 &h, F &&f) { each_header_field(h, f); }

template <class S, class F> void each_section_field(S &s, F &&f) {
    f(s.sh_name), f(s.sh_type), f(s.sh_flags), f(s.sh_addr), f(s.sh_offset), f(s.sh_size), f(s.sh_link);
    f(s.sh_info), f(s.sh_addralign), f(s.sh_entsize);
}
template <class F> void each_field(shdr32 &s, F &&f) { each_section_field(s, f); }
template <class F> void each_field(shdr64 &s, F &&f) { each_section_field(s, f); }

// The 64-bit program header moves p_flags up beside p_type (alignment).
template <class F> void each_field(phdr32 &p, F &&f) {
    f(p.p_type), f(p.p_offset), f(p.p_vaddr), f(p.p_paddr), f(p.p_filesz), f(p.p_memsz), f(p.p_flags), f(p.p_align);
}
template <class F> void each_field(phdr64 &p, F &&f) {
    f(p.p_type), f(p.p_flags), f(p.p_offset), f(p.p_vaddr), f(p.p_paddr), f(p.p_filesz), f(p.p_memsz), f(p.p_align);
}

// Encoding is EI_DATA as the reader holds it: 1 is little-endian, every other
// value big-endian. The records above are the file's byte layouts (their sizes
// leave no room for padding), so a record of the host's byte order is its
// bytes as they stand and one of the other order only has its fields swapped.
inline bool differs_from_host(uint8_t encoding) {
    bool file_big = encoding != 1;
    return file_big != (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__);
}

template <class T> T swap_bytes(T v) {
    if constexpr (sizeof(T) == 2) return __builtin_bswap16(v);
    if constexpr (sizeof(T) == 4) return __builtin_bswap32(v);
    if constexpr (sizeof(T) == 8) return __builtin_bswap64(v);
}

// An unsigned field of the width of T at p, in the file's byte order.
template <class T> T load(const uint8_t *p, uint8_t encoding) {
    T v;
    memcpy(&v, p, sizeof v);
    return differs_from_host(encoding) ? swap_bytes(v) : v;
}

// Decodes count records of type R from file bytes of the given encoding.
template <class R> void decode_records(const uint8_t *src, R *out, uint64_t count, uint8_t encoding) {
    memcpy(out, src, static_cast<size_t>(count * sizeof(R)));
    if (!differs_from_host(encoding)) return;
    for (uint64_t i = 0; i < count; i++) each_field(out[i], [](auto &field) { field = swap_bytes(field); });
}

// Widening into the normalised ELF64 records: the field names agree, so one
// assignment list serves both classes (32-bit values are zero-extended).
template <class H> void normalise(const H &h, elf_header &out) {
    memcpy(out.e_ident, h.e_ident, sizeof out.e_ident);
    out.e_type = h.e_type;
    out.e_machine = h.e_machine;
    out.e_version = h.e_version;
    out.e_entry = h.e_entry;
    out.e_phoff = h.e_phoff;
    out.e_shoff = h.e_shoff;
    out.e_flags = h.e_flags;
    out.e_ehsize = h.e_ehsize;
    out.e_phentsize = h.e_phentsize;
    out.e_phnum = h.e_phnum;
    out.e_shentsize = h.e_shentsize;
    out.e_shnum = h.e_shnum;
    out.e_shstrndx = h.e_shstrndx;
}

template <class S> void normalise(const S &s, elf_section &out) {
    out.sh_name = s.sh_name;
    out.sh_type = s.sh_type;
    out.sh_flags = s.sh_flags;
    out.sh_addr = s.sh_addr;
    out.sh_offset = s.sh_offset;
    out.sh_size = s.sh_size;
    out.sh_link = s.sh_link;
    out.sh_info = s.sh_info;
    out.sh_addralign = s.sh_addralign;
    out.sh_entsize = s.sh_entsize;
}

template <class P> void normalise(const P &p, elf_segment &out) {
    out.p_type = p.p_type;
    out.p_flags = p.p_flags;
    out.p_offset = p.p_offset;
    out.p_vaddr = p.p_vaddr;
    out.p_paddr = p.p_paddr;
    out.p_filesz = p.p_filesz;
    out.p_memsz = p.p_memsz;
    out.p_align = p.p_align;
}

}  // namespace kq::elf

namespace kq::elf {

// Normalises count class-layout records; the ELF64 layouts are the normalised
// records already, so only ELF32 tables are widened field by field.
template <class R, class N> void normalise_records(const R *raw, N *out, uint64_t count) {
    if constexpr (sizeof(R) == sizeof(N)) {
        static_assert(__is_same(R, N), "only the ELF64 layouts match the normalised records");
        memcpy(out, raw, static_cast<size_t>(count * sizeof(N)));
    } else {
        for (uint64_t i = 0; i < count; i++) normalise(raw[i], out[i]);
    }
}

}  // namespace kq::elf
