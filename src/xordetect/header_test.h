// The MZ/PE32 plausibility test, written once over "views": a view yields the
// decoded byte at an offset without the decoded bytes having to exist, so a
// candidate is judged by decoding only the few bytes the test reads.
#pragma once

#include <stdint.h>

#include "common/bounds.h"
#include "kqhelp/pe.h"

namespace kq::xordetect {

// The PE32 fields the test reads, as offsets in the NT headers record. Those
// the public header does not name are placed from the ones it does.
inline constexpr uint32_t kNtMagic = PE_NT_MAGIC;
inline constexpr uint32_t kNtFileAlignment = PE_NT_FILE_ALIGNMENT;
// MajorSubsystemVersion and MinorSubsystemVersion (u16 each), read as one u32,
// then Win32VersionValue (u32), then SizeOfImage.
inline constexpr uint32_t kNtSubsystemVersion = PE_NT_SIZE_OF_IMAGE - 8;
// Subsystem and DllCharacteristics (u16 each), SizeOfStackReserve and
// SizeOfStackCommit (u32 each), then SizeOfHeapReserve.
inline constexpr uint32_t kNtSizeOfHeapReserve = PE_NT_SUBSYSTEM + 12;
// SizeOfHeapReserve, SizeOfHeapCommit and LoaderFlags (u32 each), then NumberOfRvaAndSizes.
inline constexpr uint32_t kNtNumberOfRvaAndSizes = kNtSizeOfHeapReserve + 12;
static_assert(kNtSubsystemVersion == 0x48 && kNtSizeOfHeapReserve == 0x68 && kNtNumberOfRvaAndSizes == 0x74,
              "PE32 optional header layout");

// The bytes as they stand.
struct plain_view {
    const uint8_t *p;
    uint8_t at(uint64_t o) const { return p[o]; }
};

// Every byte XORed with one key byte.
struct xor_byte_view {
    const uint8_t *p;
    uint8_t key;
    uint8_t at(uint64_t o) const { return uint8_t(p[o] ^ key); }
};

// Every byte minus one key byte.
struct sub_byte_view {
    const uint8_t *p;
    uint8_t key;
    uint8_t at(uint64_t o) const { return uint8_t(p[o] - key); }
};

// The buffer XORed word by word from its offset 0 with a four-byte key.
struct xor_word_view {
    const uint8_t *p;
    uint32_t key;
    uint8_t at(uint64_t o) const { return uint8_t(p[o] ^ (key >> ((o & 3) * 8))); }
};

// The buffer XORed with a sixteen-byte key that repeats from offset 0 of the
// whole buffer; the view starts at offset base of it.
struct xor_block_view {
    const uint8_t *src;
    uint64_t base;
    const uint8_t *key;
    uint8_t at(uint64_t o) const { return uint8_t(src[base + o] ^ key[(base + o) & 15]); }
};

// Little-endian fields of a view, from the bytes it decodes.
template <class V> inline uint32_t view16(const V &v, uint64_t o) {
    const uint8_t b[2] = {v.at(o), v.at(o + 1)};
    return load_le16(b);
}
template <class V> inline uint32_t view32(const V &v, uint64_t o) {
    const uint8_t b[4] = {v.at(o), v.at(o + 1), v.at(o + 2), v.at(o + 3)};
    return load_le32(b);
}

// True when the view holds a plausible MZ header with a PE32 header behind it.
// Every byte read lies below size - 8: e_lfanew is bounded by size - 128.
template <class V> inline bool header_ok(const V &v, uint64_t size) {
    if (size < 512) return false;
    if (v.at(0) != 0x4D || v.at(1) != 0x5A) return false;
    const uint32_t e = view32(v, PE_DOS_E_LFANEW);
    if (e == 0 || e > size - 128) return false;
    if (view32(v, e + PE_NT_SIGNATURE) != PE_SIGNATURE) return false;
    if (view16(v, e + kNtMagic) != PE_MAGIC_PE32) return false;
    return view32(v, e + kNtSubsystemVersion) == 4 || view32(v, e + kNtFileAlignment) == 0x200 ||
           view32(v, e + kNtSizeOfHeapReserve) == 0x10000 || view32(v, e + kNtNumberOfRvaAndSizes) == 16;
}

}  // namespace kq::xordetect
