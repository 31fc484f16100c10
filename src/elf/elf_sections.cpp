// The section header table: read once in the class layout (at most 8,192
// records, with the second pass of extended numbering), normalised once.
#include "elf/elf_reader.h"
#include "module/slots.h"

namespace kq {
namespace {

template <class C> int32_t read_section_headers(elf_reader *r, const void **out, uint32_t *count) {
    using ehdr = typename C::ehdr;
    using shdr = typename C::shdr;
    if (!r) return -1;
    const ehdr *h = static_cast<const ehdr *>(r->header_raw);
    if (!h && elf_read_header<C>(r, &h) != 0) return -1;
    if (h->e_shoff == 0) return elf_fail(r, ELF_ERR_NO_SECTION_TABLE, -1);

    // e_shnum 0 means extended numbering: the real count is record 0's
    // sh_size, so record 0 is read first and the table again after it.
    uint64_t wanted = h->e_shnum;
    bool second_pass = false;
    if (wanted == 0) {
        if (r->sections_raw_count > 0) {
            wanted = static_cast<const shdr *>(r->sections_raw)[0].sh_size;
        } else {
            wanted = 1;
            second_pass = true;
        }
    }
    uint64_t cap = (count && *count) ? *count : ELF_MAX_SECTIONS;
    if (wanted > cap) wanted = cap;

    if (wanted > r->sections_raw_count) {
        host_ref host = host_of(r);
        uint64_t bytes = wanted * sizeof(shdr);
        host_block image(host, host.alloc(bytes));
        if (!image) return elf_fail(r, ELF_ERR_NO_MEMORY, -1);
        uint8_t *dest = image.get();
        uint64_t got = elf_read(r, &dest, bytes, h->e_shoff);
        if (got > bytes) got = bytes;
        if (got < sizeof(shdr)) return -1;
        wanted = got / sizeof(shdr);
        auto *table = static_cast<shdr *>(host.alloc(wanted * sizeof(shdr)));
        if (!table) return elf_fail(r, ELF_ERR_NO_MEMORY, -1);
        host.free(r->sections_raw);
        elf::decode_records(image.get(), table, wanted, r->ident[5]);
        r->sections_raw = table;
        r->sections_raw_count = static_cast<uint32_t>(wanted);
        if (second_pass && read_section_headers<C>(r, nullptr, count) != 0) return -1;
    }
    if (out) *out = r->sections_raw;
    if (count) *count = r->sections_raw_count;
    return 0;
}

template <class C> int32_t build_section_table(elf_reader *r) {
    using shdr = typename C::shdr;
    const void *raw = nullptr;
    uint32_t n = 0;
    if (read_section_headers<C>(r, &raw, &n) != 0) return -1;
    auto *table = static_cast<elf_section *>(host_of(r).alloc(uint64_t{n} * sizeof(elf_section)));
    if (!table) return elf_fail(r, ELF_ERR_NO_MEMORY, -1);
    for (uint32_t i = 0; i < n; i++) elf::normalise(static_cast<const shdr *>(raw)[i], table[i]);
    r->sections = table;
    r->section_count = n;
    return 0;
}

}  // namespace

int32_t elf_read_section_headers32(elf_reader *r, const void **out, uint32_t *count) {
    return read_section_headers<elf::class32>(r, out, count);
}
int32_t elf_read_section_headers64(elf_reader *r, const void **out, uint32_t *count) {
    return read_section_headers<elf::class64>(r, out, count);
}

}  // namespace kq

using namespace kq;

extern "C" int32_t elf_get_section_table(elf_reader *r, const elf_section **out, uint32_t *count) {
    if (!r || !out) return -1;
    if (!r->sections) {
        int32_t result = elf_get_class(r) == 1 ? build_section_table<elf::class32>(r)
                                               : build_section_table<elf::class64>(r);
        if (result != 0) return -1;
    }
    *out = r->sections;
    if (count) *count = r->section_count;
    return 0;
}

extern "C" int32_t elf_get_section_by_index(elf_reader *r, uint32_t index, const elf_section **out) {
    if (!r || !out) return -1;
    const elf_section *table = nullptr;
    if (elf_get_section_table(r, &table, nullptr) != 0) return -1;
    if (index >= r->section_count) return elf_fail(r, ELF_ERR_INDEX, -1);
    *out = table + index;
    return 0;
}

extern "C" uint32_t elf_get_section_count(elf_reader *r) {
    const elf_header *h = nullptr;
    if (!r || elf_get_header(r, &h) != 0) return 0;
    if (h->e_shoff == 0) return 0;
    if (h->e_shnum != 0) return h->e_shnum;
    const elf_section *first = nullptr;
    if (elf_get_section_by_index(r, 0, &first) != 0) return 0;
    return static_cast<uint32_t>(first->sh_size);
}
