// The module's words for bounds and for fields read out of file bytes, so
// that every reader says "the range holds the address", "the record fits in
// the head" and "the little-endian u32 at p" the same way.
#pragma once

#include <stdint.h>

namespace kq {

// Little-endian loads and stores on file bytes, which are never aligned.
inline uint16_t load_le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t load_le32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t load_le64(const uint8_t *p) { return load_le32(p) | (static_cast<uint64_t>(load_le32(p + 4)) << 32); }

inline void store_le32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// Whether [start, start + size) holds address. The end is taken modulo 2^N
// for the N-bit type of the fields (64 for ELF, 32 for PE) with no guard: a
// range whose end wraps holds nothing.
template <class U> inline bool range_holds(U start, U size, U address) {
    static_assert(sizeof(U) >= sizeof(unsigned), "no promotion to int");
    return start <= address && address < static_cast<U>(start + size);
}

// An empty range still names its start: the lookups that accept it say so.
template <class U> inline bool empty_range_at(U start, U size, U address) { return size == 0 && address == start; }

// Whether the bytes [offset, offset + size) lie inside a head of head_size
// bytes, so they can be copied from it instead of read from the file.
inline bool fits_in_head(uint64_t offset, uint64_t size, uint64_t head_size) { return offset + size <= head_size; }

// Strict, as the NT and NE loaders always were: a record ending at the head's last byte is read (hosts count it).
inline bool fits_in_head_strictly(uint64_t offset, uint64_t size, uint64_t head_size) {
    return offset + size < head_size;
}

}  // namespace kq
