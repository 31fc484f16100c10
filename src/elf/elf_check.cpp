// Slot 34: validation of the identification and, when asked, of the header.
#include "elf/elf_reader.h"
#include "module/slots.h"

namespace kq {
namespace {

// The header tests in their fixed order; 0 when all pass, else the first code.
template <class H> int32_t header_fault(const H &h) {
    if (h.e_version != 1) return ELF_ERR_VERSION;
    if (h.e_ehsize != sizeof(H)) return ELF_ERR_HEADER_SIZE;
    // Either entry size is taken for either class: only the declared table
    // offsets decide whether the size matters at all.
    if (h.e_phoff != 0 && h.e_phentsize != sizeof(elf::phdr32) && h.e_phentsize != sizeof(elf::phdr64))
        return ELF_ERR_HEADER_SIZE;
    if (h.e_shoff != 0 && h.e_shentsize != sizeof(elf::shdr32) && h.e_shentsize != sizeof(elf::shdr64))
        return ELF_ERR_HEADER_SIZE;
    if (h.e_shoff == 0 && h.e_shnum != 0) return ELF_ERR_NO_TABLES;
    if (h.e_phoff == 0 && declared_segments(h) != 0) return ELF_ERR_NO_TABLES;
    if (h.e_type < 1 || h.e_type > 4) return ELF_ERR_TYPE;
    if (h.e_shoff == 0 && h.e_phoff == 0) return ELF_ERR_NO_TABLES;
    if (h.e_type == 1 && h.e_shoff == 0) return ELF_ERR_NO_SECTION_TABLE;
    if (h.e_type == 2 && h.e_phoff == 0) return ELF_ERR_NO_SEGMENT_TABLE;
    return 0;
}

int32_t ident_fault(const uint8_t *ident) {
    if (ident[0] != 0x7F || ident[1] != 'E' || ident[2] != 'L' || ident[3] != 'F') return ELF_ERR_MAGIC;
    if (ident[4] != 1 && ident[4] != 2) return ELF_ERR_CLASS;
    if (ident[5] != 1 && ident[5] != 2) return ELF_ERR_DATA;
    if (ident[6] > 1) return ELF_ERR_IDENT_VERSION;
    return 0;
}

}  // namespace
}  // namespace kq

using namespace kq;

extern "C" int32_t elf_check(elf_reader *r, int32_t deep) {
    if (!r) return -1;
    const uint8_t *ident = elf_get_ident(r);
    if (!ident) return r->last_error != 0 ? -1 : 0;
    if (int32_t code = ident_fault(ident)) return elf_fail(r, code, 0);
    if (!deep) return 1;

    int32_t code = with_class(r, [r](auto c) {
        using C = decltype(c);
        const typename C::ehdr *h = nullptr;
        if (elf_read_header<C>(r, &h) != 0) return -1;
        return header_fault(*h);
    });
    if (code < 0) return -1;
    return code ? elf_fail(r, code, 0) : 1;
}
