// The scanner's bulk work (finding the next offset that may start an encoded
// header, decoding long stretches) in one set of kernels per instruction set:
// AVX-512 (byte instructions), AVX2, SSE2 and a portable machine-word path.
// The scanner takes the best one the processor runs (its features are asked
// once, then remembered); every set gives the same results.
#pragma once

#include <stdint.h>

namespace kq::xordetect {

// Cheap necessary conditions, tested many offsets at once. An offset that
// fails its filter cannot be a candidate of that phase; one that passes is
// checked in full by the caller.
enum class filter : uint8_t {
    xor1,      // one-byte XOR: 'M' 'Z' and the high bytes of e_lfanew decode to 0 under the same key
    xor4,      // four-byte XOR: Magic and Subsystem's high byte decode under the signature or Machine key
    rule,      // four equal non-zero words at a multiple of 4 (only multiples of 4 are reported)
    add1,      // one-byte addition: 'M' 'Z' and the high bytes of e_lfanew
    widened,   // the widened signature's first bytes
    add4,      // four-byte addition: equal halves of the first word pair, Magic's low byte
};

// A sixteen-byte key as find_mz16 compares it: offset o decodes to 'M' 'Z'
// when buf[o] == m[o mod 16] and buf[o + 1] == z[o mod 16]. Each row repeats
// the key's period so that a vector of 64 lanes can start at any phase.
struct mz16_pattern {
    uint8_t m[80];
    uint8_t z[80];

    explicit mz16_pattern(const uint8_t *key) {
        for (unsigned t = 0; t < 80; t++) {
            m[t] = uint8_t(key[t & 15] ^ 'M');
            z[t] = uint8_t(key[(t + 1) & 15] ^ 'Z');
        }
    }
    mz16_pattern() = default;
    bool at(const uint8_t *buf, uint64_t o) const { return buf[o] == m[o & 15] && buf[o + 1] == z[o & 15]; }
};

// The many-keys join's first test (block_keys.cpp): offset m passes when bit
// 16 v + (m mod 16) of `bits` is set, v the low bits (mask) of the byte pair at
// m with 'M' 'Z' undone, that is the pair a key must hold at that residue.
struct pair_filter {
    const uint32_t *bits;
    uint32_t mask;

    uint32_t bit(uint32_t pair, unsigned residue) const { return ((pair & mask) << 4) | residue; }
    bool passes(const uint8_t *buf, uint64_t m) const {
        const uint32_t b = bit((uint32_t(buf[m]) | (uint32_t(buf[m + 1]) << 8)) ^ 0x5A4D, unsigned(m & 15));
        return (bits[b / 32] >> (b % 32)) & 1;
    }
};

struct lane_kernels {
    const char *name;
    bool (*available)();
    // The first block of 32 offsets from `from` on (at = from + 32 t) in which
    // some offsets below `to` pass the filter: returns at and sets bit u of
    // *hits for each passing offset at + u. Returns `to` (and *hits = 0) when
    // no offset passes. The caller keeps every read in the buffer: `to` is at
    // most the phase's limit.
    uint64_t (*find)(filter f, const uint8_t *buf, uint64_t from, uint64_t to, uint32_t *hits);
    // The same for offsets m whose two bytes decode to 'M' 'Z' under one of
    // `count` sixteen-byte keys (src[m] XOR key[m mod 16] and the next), all
    // tested in one pass (count at least 1).
    uint64_t (*find_mz16)(const uint8_t *buf, uint64_t from, uint64_t to, const struct mz16_pattern *keys,
                          unsigned count, uint32_t *hits);
    // The same for offsets that pass a pair filter.
    uint64_t (*find_pairs)(const uint8_t *buf, uint64_t from, uint64_t to, const pair_filter *f, uint32_t *hits);
    // dst[j] = src[j] XOR key[j mod 16] for j in [from, to).
    void (*xor16)(uint8_t *dst, const uint8_t *src, uint64_t from, uint64_t to, const uint8_t *key);
    // dst[j] = src[j] - k for j in [from, to).
    void (*sub1)(uint8_t *dst, const uint8_t *src, uint64_t from, uint64_t to, uint8_t k);
};

extern const lane_kernels portable_lane_kernels;
#if defined(__i386__) || defined(__x86_64__)
extern const lane_kernels sse2_lane_kernels;
extern const lane_kernels avx2_lane_kernels;
extern const lane_kernels avx512_lane_kernels;
#endif

// Every set of this build, best first, ending with a null pointer.
extern const lane_kernels *const all_lane_kernels[];

// The best set this processor runs.
const lane_kernels &best_lane_kernels();

}  // namespace kq::xordetect
