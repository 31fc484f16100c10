// Buffers for the detector's tests, benchmarks and fuzzer seeds: a minimal
// plausible MZ/PE32 header, its six encodings, and hostile layouts.
#pragma once

#include <stdint.h>
#include <string.h>

#include <random>
#include <vector>

namespace xsamples {

using bytes = std::vector<uint8_t>;

inline void put16(bytes &b, size_t o, uint32_t v) { b[o] = uint8_t(v), b[o + 1] = uint8_t(v >> 8); }
inline void put32(bytes &b, size_t o, uint32_t v) { put16(b, o, v), put16(b, o + 2, v >> 16); }
inline uint32_t get32(const bytes &b, size_t o) { return uint32_t(b[o] | b[o + 1] << 8 | b[o + 2] << 16) | uint32_t(b[o + 3]) << 24; }

// Writes a DOS header at h whose e_lfanew is lfanew and a PE32 header behind it.
inline void write_header(bytes &b, size_t h, uint32_t lfanew = 0x80) {
    b[h] = 'M', b[h + 1] = 'Z';
    put16(b, h + 0x08, 4), put32(b, h + 0x0C, 0x0000FFFF), put16(b, h + 0x18, 0x40), put32(b, h + 0x3C, lfanew);
    const size_t s = h + lfanew;
    memcpy(&b[s], "PE\0\0", 4);
    put16(b, s + 0x04, 0x014C), put32(b, s + 0x0C, 0), put32(b, s + 0x10, 0), put16(b, s + 0x14, 0xE0);
    put16(b, s + 0x16, 0x10F), put16(b, s + 0x18, 0x10B), put32(b, s + 0x3C, 0x200), put32(b, s + 0x48, 4);
    put16(b, s + 0x5C, 2), put32(b, s + 0x68, 0x10000), put32(b, s + 0x6C, 0x1000), put32(b, s + 0x74, 16);
}
inline bytes plain_image(size_t size, size_t at = 0, uint32_t lfanew = 0x80) { bytes b(size, 0); return write_header(b, at, lfanew), b; }

inline void xor_bytes(bytes &b, uint8_t k) { for (auto &c : b) c ^= k; }
inline void add_bytes(bytes &b, uint8_t k) { for (auto &c : b) c = uint8_t(c + k); }
// Aligned words from offset 0; the bytes after the last whole word stay.
inline void xor_words(bytes &b, uint32_t k) { for (size_t j = 0; j + 4 <= b.size(); j += 4) put32(b, j, get32(b, j) ^ k); }
inline void add_words(bytes &b, uint32_t k) { for (size_t j = 0; j + 4 <= b.size(); j += 4) put32(b, j, get32(b, j) + k); }
inline void xor_block(bytes &b, const uint8_t key[16]) { for (size_t j = 0; j < b.size(); j++) b[j] ^= key[j % 16]; }
inline void widen_signature(bytes &b, size_t at) { memcpy(&b[at], "P\0E\0\0\0\0\0L\0\1\0", 12); }

inline bytes random_bytes(size_t size, std::mt19937 &rng, uint8_t set = 0) { bytes b(size); for (auto &c : b) c = uint8_t(rng() | set); return b; }
inline bytes periodic(size_t size, const bytes &period) { bytes b(size); for (size_t j = 0; j < size; j++) b[j] = period[j % period.size()]; return b; }
// Three copies of each random 16-byte key, many keys in a row.
inline bytes distinct_block_keys(size_t size, std::mt19937 &rng) {
    bytes b(size, 0);
    for (size_t i = 0; i + 48 <= size; i += 48) memcpy(&b[i], periodic(48, random_bytes(16, rng, 1)).data(), 48);
    return b;
}
// 16-byte repeats of one random key over the whole buffer.
inline bytes repeated_block(size_t size, std::mt19937 &rng) { return periodic(size, random_bytes(16, rng, 1)); }
// A quarter of all offsets are full one-byte XOR candidates (key 0x80: the bytes decode to 'M' 'Z' and e_lfanew's high
// bytes to 0) whose header test then fails: period 4 of k^'M', k^'Z', k, k. The same for the one-byte addition phase
// (key 1): 'M'+1, 'Z'+1, 1, 1.
inline bytes dense_xor_candidates(size_t size) { return periodic(size, {0xCD, 0xDA, 0x80, 0x80}); }
inline bytes dense_add_candidates(size_t size) { return periodic(size, {0x4E, 0x5B, 0x01, 0x01}); }

}  // namespace xsamples
