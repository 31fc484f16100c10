// The MZ/PE32 plausibility test, written once over "views": a view yields the
// decoded byte at an offset without the decoded bytes having to exist, so a
// candidate is judged by decoding only the few bytes the test reads.
#pragma once

#include <stdint.h>

namespace kq::xordetect {

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

template <class V> inline uint32_t view16(const V &v, uint64_t o) { return uint32_t(v.at(o)) | (uint32_t(v.at(o + 1)) << 8); }
template <class V> inline uint32_t view32(const V &v, uint64_t o) {
    return uint32_t(v.at(o)) | (uint32_t(v.at(o + 1)) << 8) | (uint32_t(v.at(o + 2)) << 16) |
           (uint32_t(v.at(o + 3)) << 24);
}

// True when the view holds a plausible MZ header with a PE32 header behind it.
// Every byte read lies below size - 8: e_lfanew is bounded by size - 128.
template <class V> inline bool header_ok(const V &v, uint64_t size) {
    if (size < 512) return false;
    if (v.at(0) != 0x4D || v.at(1) != 0x5A) return false;
    const uint32_t e = view32(v, 0x3C);
    if (e == 0 || e > size - 128) return false;
    if (view32(v, e) != 0x00004550) return false;
    if (view16(v, e + 0x18) != 0x10B) return false;
    return view32(v, e + 0x48) == 4 || view32(v, e + 0x3C) == 0x200 || view32(v, e + 0x68) == 0x10000 ||
           view32(v, e + 0x74) == 16;
}

}  // namespace kq::xordetect
