// The one reader of the two record tables, section headers and program
// headers: the class-layout table is read once with one windowed read of the
// whole (capped) table and decoded once; the normalised table is made from it
// once. A table kind (elf_sections.cpp, elf_segments.cpp) supplies only what
// differs: where the table lies, how many records the header declares, its
// cap and the fields of the reader that hold it.
#pragma once

#include "elf/elf_reader.h"

namespace kq {

// The reader fields that hold a table kind: its class-layout records and
// their count, its normalised records and theirs, and its cap.
template <class N, auto Raw, auto RawCount, auto Table, auto Count, uint32_t Cap> struct table_fields {
    using normalised = N;
    static constexpr uint32_t cap = Cap;
    static auto &raw(elf_reader *r) { return r->*Raw; }
    static uint32_t &raw_count(elf_reader *r) { return r->*RawCount; }
    static N *&table(elf_reader *r) { return r->*Table; }
    static uint32_t &count(elf_reader *r) { return r->*Count; }
};

// e_shnum 0 means extended numbering: the real count is record 0's sh_size,
// so record 0 is read first and the table again after it.
struct section_table : table_fields<elf_section, &elf_reader::sections_raw, &elf_reader::sections_raw_count,
                                    &elf_reader::sections, &elf_reader::section_count, kElfMaxSections> {
    template <class C> using record = typename C::shdr;
    template <class H> static uint64_t offset(const H &h) { return h.e_shoff; }
    // The translations consult the allocated sections over sh_size.
    static bool maps_memory(const elf_section &s) { return s.sh_flags & kShfAlloc; }
    static uint64_t size(const elf_section &s) { return s.sh_size; }

    template <class C>
    static int32_t declared(elf_reader *r, const typename C::ehdr &h, uint64_t *wanted, bool *record0_first) {
        if (h.e_shoff == 0) return ELF_ERR_NO_SECTION_TABLE;
        *wanted = h.e_shnum;
        if (*wanted != 0) return 0;
        if (r->sections_raw_count > 0) {
            *wanted = r->sections_raw.as<C>()[0].sh_size;
        } else {
            *wanted = 1;
            *record0_first = true;
        }
        return 0;
    }
};

struct segment_table : table_fields<elf_segment, &elf_reader::segments_raw, &elf_reader::segments_raw_count,
                                    &elf_reader::segments, &elf_reader::segment_count, kElfMaxSegments> {
    template <class C> using record = typename C::phdr;
    template <class H> static uint64_t offset(const H &h) { return h.e_phoff; }
    // The translations consult every record, whatever its type, over p_memsz.
    static bool maps_memory(const elf_segment &) { return true; }
    static uint64_t size(const elf_segment &s) { return s.p_memsz; }

    template <class C> static int32_t declared(elf_reader *, const typename C::ehdr &h, uint64_t *wanted, bool *) {
        *wanted = declared_segments(h);
        return *wanted == 0 ? ELF_ERR_NO_SEGMENT_TABLE : 0;
    }
};

}  // namespace kq

namespace kq::elf_tables {

// Loads K's class-layout table for class C into the reader. The declared
// count may ask for record 0 first (extended numbering); the table is then
// read again with the count that record gives.
template <class K, class C> int32_t load_raw(elf_reader *r) {
    using record = typename K::template record<C>;
    const typename C::ehdr *h = r->header_raw.as<C>();
    if (!h && elf_read_header<C>(r, &h) != 0) return -1;
    uint64_t wanted = 0;
    bool record0_first = false;
    if (int32_t code = K::template declared<C>(r, *h, &wanted, &record0_first)) return elf_fail(r, code, -1);
    if (wanted > K::cap) wanted = K::cap;

    record *&raw = K::raw(r).template as<C>();
    uint32_t &raw_count = K::raw_count(r);
    if (wanted > raw_count) {
        host_ref host = host_of(r);
        uint64_t bytes = wanted * sizeof(record);
        host_block image(host, host.alloc(bytes));
        if (!image) return elf_fail(r, ELF_ERR_NO_MEMORY, -1);
        uint8_t *dest = image.get();
        uint64_t got = elf_read(r, &dest, bytes, K::offset(*h));
        if (got > bytes) got = bytes;
        if (got < sizeof(record)) return -1;
        wanted = got / sizeof(record);
        auto *table = static_cast<record *>(host.alloc(wanted * sizeof(record)));
        if (!table) return elf_fail(r, ELF_ERR_NO_MEMORY, -1);
        host.free(raw);
        elf::decode_records(image.get(), table, wanted, r->ident[5]);
        raw = table;
        raw_count = static_cast<uint32_t>(wanted);
        if (record0_first) return load_raw<K, C>(r);
    }
    return 0;
}

// Loads the class-layout table when needed and normalises it.
template <class K, class C> int32_t build(elf_reader *r) {
    if (load_raw<K, C>(r) != 0) return -1;
    uint32_t n = K::raw_count(r);
    using normalised = typename K::normalised;
    auto *table = static_cast<normalised *>(host_of(r).alloc(uint64_t{n} * sizeof(normalised)));
    if (!table) return elf_fail(r, ELF_ERR_NO_MEMORY, -1);
    elf::normalise_records(K::raw(r).template as<C>(), table, n);
    K::table(r) = table;
    K::count(r) = n;
    return 0;
}

// The slot behind elf_get_section_table and elf_get_segment_table.
template <class K> int32_t get_table(elf_reader *r, const typename K::normalised **out, uint32_t *count) {
    if (!r || !out) return -1;
    if (!K::table(r) && with_class(r, [r](auto c) { return build<K, decltype(c)>(r); }) != 0) return -1;
    *out = K::table(r);
    if (count) *count = K::count(r);
    return 0;
}

// The slot behind elf_get_section_by_index and elf_get_segment_by_index.
template <class K> int32_t get_by_index(elf_reader *r, uint32_t index, const typename K::normalised **out) {
    if (!r || !out) return -1;
    const typename K::normalised *table = nullptr;
    if (get_table<K>(r, &table, nullptr) != 0) return -1;
    if (index >= K::count(r)) return elf_fail(r, ELF_ERR_INDEX, -1);
    *out = table + index;
    return 0;
}

}  // namespace kq::elf_tables
