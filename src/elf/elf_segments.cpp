// The program header table: read once in the class layout (at most 256
// records), normalised once, and looked up by index and address.
#include "elf/elf_reader.h"
#include "module/slots.h"

namespace kq {
namespace {

template <class C> int32_t read_program_headers(elf_reader *r, const void **out, uint32_t *count) {
    using ehdr = typename C::ehdr;
    using phdr = typename C::phdr;
    if (!r) return -1;
    const ehdr *h = static_cast<const ehdr *>(r->header_raw);
    if (!h && elf_read_header<C>(r, &h) != 0) return -1;
    if (h->e_phnum == 0) return elf_fail(r, ELF_ERR_NO_SEGMENT_TABLE, -1);

    uint32_t limit = (count && *count) ? *count : ELF_MAX_SEGMENTS;
    uint16_t n = static_cast<uint16_t>(h->e_phnum < limit ? h->e_phnum : limit);
    if (n > r->segments_raw_count) {
        host_ref host = host_of(r);
        uint64_t bytes = uint64_t{n} * sizeof(phdr);
        host_block image(host, host.alloc(bytes));
        if (!image) return elf_fail(r, ELF_ERR_NO_MEMORY, -1);
        uint8_t *dest = image.get();
        uint64_t got = elf_read(r, &dest, bytes, h->e_phoff);
        if (got > bytes) got = bytes;
        if (got < sizeof(phdr)) return -1;
        n = static_cast<uint16_t>(got / sizeof(phdr));
        auto *table = static_cast<phdr *>(host.alloc(uint64_t{n} * sizeof(phdr)));
        if (!table) return elf_fail(r, ELF_ERR_NO_MEMORY, -1);
        host.free(r->segments_raw);
        elf::decode_records(image.get(), table, n, r->ident[5]);
        r->segments_raw = table;
        r->segments_raw_count = n;
    }
    if (out) *out = r->segments_raw;
    if (count) *count = n;
    return 0;
}

template <class C> int32_t build_segment_table(elf_reader *r) {
    using phdr = typename C::phdr;
    const void *raw = nullptr;
    uint32_t n = 0;
    if (read_program_headers<C>(r, &raw, &n) != 0) return -1;
    auto *table = static_cast<elf_segment *>(host_of(r).alloc(uint64_t{n} * sizeof(elf_segment)));
    if (!table) return elf_fail(r, ELF_ERR_NO_MEMORY, -1);
    for (uint32_t i = 0; i < n; i++) elf::normalise(static_cast<const phdr *>(raw)[i], table[i]);
    r->segments = table;
    r->segment_count = n;
    return 0;
}

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
        uint64_t end = start + size;  // wraps: a range past 2^64 holds nothing
        bool match = (start <= address && address < end) || (size == 0 && address == start && s.p_type == PT_LOAD);
        if (!match) continue;
        if (out) *out = &s;
        return 0;
    }
    return elf_fail(r, ELF_ERR_NO_SEGMENT, -1);
}

}  // namespace

int32_t elf_read_program_headers32(elf_reader *r, const void **out, uint32_t *count) {
    return read_program_headers<elf::class32>(r, out, count);
}
int32_t elf_read_program_headers64(elf_reader *r, const void **out, uint32_t *count) {
    return read_program_headers<elf::class64>(r, out, count);
}

}  // namespace kq

using namespace kq;

extern "C" int32_t elf_get_segment_table(elf_reader *r, const elf_segment **out, uint32_t *count) {
    if (!r || !out) return -1;
    if (!r->segments) {
        int32_t result = elf_get_class(r) == 1 ? build_segment_table<elf::class32>(r)
                                               : build_segment_table<elf::class64>(r);
        if (result != 0) return -1;
    }
    *out = r->segments;
    if (count) *count = r->segment_count;
    return 0;
}

extern "C" int32_t elf_get_segment_by_index(elf_reader *r, uint32_t index, const elf_segment **out) {
    if (!r || !out) return -1;
    const elf_segment *table = nullptr;
    if (elf_get_segment_table(r, &table, nullptr) != 0) return -1;
    if (index >= r->segment_count) return elf_fail(r, ELF_ERR_INDEX, -1);
    *out = table + index;
    return 0;
}

extern "C" int32_t elf_get_segment_by_virtual_address(elf_reader *r, uint64_t address, const elf_segment **out) {
    return find_segment(r, address, &elf_segment::p_vaddr, out);
}

extern "C" int32_t elf_get_segment_by_physical_address(elf_reader *r, uint64_t address, const elf_segment **out) {
    return find_segment(r, address, &elf_segment::p_paddr, out);
}
