// Identification (class and byte order, corrected against fields whose values
// are known) and the file header, in the class layout and normalised.
#include <stddef.h>
#include <string.h>

#include "elf/elf_reader.h"
#include "module/slots.h"

namespace kq {

namespace {

// e_version must be 1: when only one byte order reads it as 0 or 1, that
// byte order is the file's, whatever EI_DATA says.
void correct_encoding(uint8_t *ident, const uint8_t *bytes) {
    uint32_t le = elf::load<uint32_t>(bytes + offsetof(elf::ehdr32, e_version), 1);
    uint32_t be = elf::load<uint32_t>(bytes + offsetof(elf::ehdr32, e_version), 2);
    if (le <= 1 && be > 1) ident[5] = 1;
    if (le > 1 && be <= 1) ident[5] = 2;
}

// e_ehsize sits at 40 in an ELF32 header and at 52 in an ELF64 one.
void correct_class(uint8_t *ident, const uint8_t *bytes) {
    uint16_t a = elf::load<uint16_t>(bytes + offsetof(elf::ehdr32, e_ehsize), ident[5]);
    uint16_t b = elf::load<uint16_t>(bytes + offsetof(elf::ehdr64, e_ehsize), ident[5]);
    if (a == sizeof(elf::ehdr32) && b != sizeof(elf::ehdr64)) ident[4] = elf::class32::id;
    if (a != sizeof(elf::ehdr32) && b == sizeof(elf::ehdr64)) ident[4] = elf::class64::id;
}

}  // namespace

const uint8_t *elf_get_ident(elf_reader *r) {
    if (!r) return nullptr;
    if (r->ident[0] != 0) return r->ident;
    uint8_t *bytes = nullptr;
    uint64_t got = elf_read(r, &bytes, 64, 0);
    if (got <= 15) {
        host_of(r).free(bytes);  // null when elf_read failed: it freed its own block
        return nullptr;
    }
    memcpy(r->ident, bytes, 16);
    if (got == 64) {
        correct_encoding(r->ident, bytes);
        correct_class(r->ident, bytes);
    }
    host_of(r).free(bytes);
    return r->ident;
}

template <class C> int32_t elf_read_header(elf_reader *r, const typename C::ehdr **out) {
    using ehdr = typename C::ehdr;
    if (!r) return -1;
    if (r->ident[0] == 0 && !elf_get_ident(r)) return -1;
    ehdr *&raw = r->header_raw.as<C>();
    if (!raw) {
        host_ref host = host_of(r);
        host_block image(host, host.alloc(sizeof(ehdr)));
        if (!image) return elf_fail(r, ELF_ERR_NO_MEMORY, -1);
        uint8_t *dest = image.get();
        if (elf_read(r, &dest, sizeof(ehdr), 0) != sizeof(ehdr)) return -1;
        auto *h = static_cast<ehdr *>(host.alloc(sizeof(ehdr)));
        if (!h) return elf_fail(r, ELF_ERR_NO_MEMORY, -1);
        elf::decode_records(image.get(), h, 1, r->ident[5]);
        raw = h;
    }
    if (out) *out = raw;
    return 0;
}

template int32_t elf_read_header<elf::class32>(elf_reader *, const elf::ehdr32 **);
template int32_t elf_read_header<elf::class64>(elf_reader *, const elf::ehdr64 **);

}  // namespace kq

using namespace kq;

extern "C" uint32_t elf_get_class(elf_reader *r) {
    const uint8_t *ident = elf_get_ident(r);
    return ident ? ident[4] : 0xFFFFFFFFu;
}

extern "C" uint32_t elf_get_encoding(elf_reader *r) {
    const uint8_t *ident = elf_get_ident(r);
    return ident ? ident[5] : 0xFFFFFFFFu;
}

extern "C" int32_t elf_get_header(elf_reader *r, const elf_header **out) {
    if (!r || !out) return -1;
    if (!r->header) {
        host_ref host = host_of(r);
        host_block block(host, host.alloc(sizeof(elf_header)));
        if (!block) return elf_fail(r, ELF_ERR_NO_MEMORY, -1);
        auto *h = block.get<elf_header>();
        int32_t result = with_class(r, [&](auto c) {
            const typename decltype(c)::ehdr *raw = nullptr;
            if (elf_read_header<decltype(c)>(r, &raw) != 0) return -1;
            elf::normalise(*raw, *h);
            return 0;
        });
        if (result != 0) return -1;
        r->header = static_cast<elf_header *>(block.release());
    }
    *out = r->header;
    return 0;
}

extern "C" uint32_t elf_get_segment_count(elf_reader *r) {
    const elf_header *h = nullptr;
    if (!r || elf_get_header(r, &h) != 0) return 0;
    return h->e_phoff != 0 ? declared_segments(*h) : 0;
}
