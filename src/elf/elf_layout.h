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

// Every field of a record but e_ident, paired by name with the same field of
// a record of the same kind (the field names agree between the classes):
// f(a.field, b.field) for each. Byte swapping pairs a record with itself,
// widening pairs an ELF32 record with its normalised counterpart.
template <class A, class B, class F> void each_field_pair(A &a, B &b, F &&f) {
    if constexpr (requires { a.e_type; }) {
        f(a.e_type, b.e_type), f(a.e_machine, b.e_machine), f(a.e_version, b.e_version), f(a.e_entry, b.e_entry);
        f(a.e_phoff, b.e_phoff), f(a.e_shoff, b.e_shoff), f(a.e_flags, b.e_flags), f(a.e_ehsize, b.e_ehsize);
        f(a.e_phentsize, b.e_phentsize), f(a.e_phnum, b.e_phnum), f(a.e_shentsize, b.e_shentsize);
        f(a.e_shnum, b.e_shnum), f(a.e_shstrndx, b.e_shstrndx);
    } else if constexpr (requires { a.sh_name; }) {
        f(a.sh_name, b.sh_name), f(a.sh_type, b.sh_type), f(a.sh_flags, b.sh_flags), f(a.sh_addr, b.sh_addr);
        f(a.sh_offset, b.sh_offset), f(a.sh_size, b.sh_size), f(a.sh_link, b.sh_link), f(a.sh_info, b.sh_info);
        f(a.sh_addralign, b.sh_addralign), f(a.sh_entsize, b.sh_entsize);
    } else {
        f(a.p_type, b.p_type), f(a.p_flags, b.p_flags), f(a.p_offset, b.p_offset), f(a.p_vaddr, b.p_vaddr);
        f(a.p_paddr, b.p_paddr), f(a.p_filesz, b.p_filesz), f(a.p_memsz, b.p_memsz), f(a.p_align, b.p_align);
    }
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
    for (uint64_t i = 0; i < count; i++)
        each_field_pair(out[i], out[i], [](auto &field, auto &same) { same = swap_bytes(field); });
}

// Widening into the normalised ELF64 records: 32-bit values are zero-extended.
template <class R, class N> void normalise(const R &in, N &out) {
    if constexpr (requires { in.e_ident; }) memcpy(out.e_ident, in.e_ident, sizeof out.e_ident);
    each_field_pair(in, out, [](const auto &narrow, auto &wide) { wide = narrow; });
}

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
