// The kernels of lane_kernels.h written once over a lane type V: each
// instruction set's file instantiates them with its own V and compiler flags.
// Everything here has internal linkage on purpose, so that code compiled for
// AVX2 can never be shared with (and run by) the portable path.
//
// V provides: width (bytes per vector), vec, load(p), store(p, v), splat(b),
// eq(a, b) (a lane mask), both(m1, m2), either(m1, m2), diff(a, b) (XOR),
// minus(a, b) (byte-wise), and bits(mask): bit t set when lane t
// is set in the mask.
#pragma once

#include <stdint.h>
#include <string.h>

#include "xordetect/lane_kernels.h"

namespace kq::xordetect {
namespace {

template <class V> struct filters {
    using vec = typename V::vec;
    static vec at(const uint8_t *p, unsigned o) { return V::load(p + o); }
    static vec c(uint8_t b) { return V::splat(b); }

    static uint32_t xor1(const uint8_t *p) {
        const vec v = at(p, 0);
        const auto pair = V::eq(V::diff(v, at(p, 1)), c('M' ^ 'Z'));
        const auto high = V::both(V::eq(V::diff(v, at(p, 0x3E)), c('M')), V::eq(V::diff(v, at(p, 0x3F)), c('M')));
        return V::bits(V::both(pair, high));
    }

    static uint32_t add1(const uint8_t *p) {
        const vec v = at(p, 0), k = V::minus(v, c('M'));
        const auto pair = V::eq(V::minus(at(p, 1), v), c('Z' - 'M'));
        const auto high = V::both(V::eq(at(p, 0x3E), k), V::eq(at(p, 0x3F), k));
        return V::bits(V::both(pair, high));
    }

    // Signature key k = u32 at i XOR 0x4550, Machine key from u32 at i+2:
    // Magic (u16 at +0x18) must decode to 0x10B and Subsystem's high byte
    // (+0x5D) to 0.
    static uint32_t xor4(const uint8_t *p) {
        const vec m0 = at(p, 0x18), m1 = at(p, 0x19), sub = at(p, 0x5D), s1 = at(p, 1), s3 = at(p, 3);
        const auto sig = V::both(V::both(V::eq(V::diff(m0, at(p, 0)), c(0x0B ^ 0x50)), V::eq(V::diff(m1, s1), c(0x01 ^ 0x45))),
                                 V::eq(V::diff(sub, s1), c(0x45)));
        const auto mach = V::both(V::both(V::eq(V::diff(m0, at(p, 2)), c(0x0B)), V::eq(V::diff(m1, s3), c(0x01))),
                                  V::eq(sub, s3));
        return V::bits(V::either(sig, mach));
    }

    // Lanes t = 0, 4, 8, ... of a vector loaded at a multiple of 4.
    static uint32_t rule(const uint8_t *p) {
        const vec v = at(p, 0);
        const uint32_t same = V::bits(V::both(V::both(V::eq(v, at(p, 4)), V::eq(v, at(p, 8))), V::eq(v, at(p, 12))));
        const uint32_t zero = V::bits(V::eq(v, c(0)));
        const uint32_t firsts = 0x11111111u >> (32 - V::width);
        const uint32_t words_same = same & (same >> 1) & (same >> 2) & (same >> 3) & firsts;
        const uint32_t words_zero = zero & (zero >> 1) & (zero >> 2) & (zero >> 3) & firsts;
        return words_same & ~words_zero;
    }

    static uint32_t widened(const uint8_t *p) {
        return V::bits(V::both(V::both(V::eq(at(p, 0), c(0x50)), V::eq(at(p, 1), c(0))),
                               V::both(V::eq(at(p, 2), c(0x45)), V::eq(at(p, 8), c(0x4C)))));
    }

    // d = u32 at i equals u32 at i+4, and Magic (u16 at i+0x20) minus d's low
    // half is 0x10B or 0x10C.
    static uint32_t add4(const uint8_t *p) {
        const vec v = at(p, 0), magic = V::minus(at(p, 0x20), v);
        const auto same = V::both(V::eq(v, at(p, 4)), V::eq(at(p, 1), at(p, 5)));
        return V::bits(V::both(same, V::either(V::eq(magic, c(0x0B)), V::eq(magic, c(0x0C)))));
    }
};

// The same filters one offset at a time, for the last offsets before `to`.
inline bool one(filter f, const uint8_t *p) {
    auto u32 = [p](unsigned o) {
        return uint32_t(p[o]) | (uint32_t(p[o + 1]) << 8) | (uint32_t(p[o + 2]) << 16) | (uint32_t(p[o + 3]) << 24);
    };
    switch (f) {
    case filter::xor1: return (p[0] ^ p[1]) == ('M' ^ 'Z') && (p[0] ^ p[0x3E]) == 'M' && (p[0] ^ p[0x3F]) == 'M';
    case filter::add1: {
        const uint8_t k = uint8_t(p[0] - 'M');
        return uint8_t(p[1] - p[0]) == 'Z' - 'M' && p[0x3E] == k && p[0x3F] == k;
    }
    case filter::xor4:
        return ((p[0x18] ^ p[0]) == (0x0B ^ 0x50) && (p[0x19] ^ p[1]) == (0x01 ^ 0x45) && (p[0x5D] ^ p[1]) == 0x45) ||
               ((p[0x18] ^ p[2]) == 0x0B && (p[0x19] ^ p[3]) == 0x01 && p[0x5D] == p[3]);
    case filter::rule: {
        const uint32_t d = u32(0);
        return d != 0 && u32(4) == d && u32(8) == d && u32(12) == d;
    }
    case filter::widened: return p[0] == 0x50 && p[1] == 0 && p[2] == 0x45 && p[8] == 0x4C;
    case filter::add4: {
        const uint8_t magic = uint8_t(p[0x20] - p[0]);
        return p[0] == p[4] && p[1] == p[5] && (magic == 0x0B || magic == 0x0C);
    }
    }
    return false;
}

template <class V, uint32_t (*lanes)(const uint8_t *)>
uint64_t find_with(filter f, const uint8_t *buf, uint64_t i, uint64_t to, uint32_t *hits) {
    static_assert(32 % V::width == 0, "a block of 32 offsets is whole vectors");
    for (; i + 32 <= to; i += 32) {
        uint32_t block = 0;
        for (unsigned q = 0; q < 32; q += V::width) block |= lanes(buf + i + q) << q;
        if (block) {
            *hits = block;
            return i;
        }
    }
    uint32_t tail = 0;
    for (uint64_t u = 0; i + u < to; u += f == filter::rule ? 4 : 1)
        if (one(f, buf + i + u)) tail |= uint32_t(1) << u;
    *hits = tail;
    return tail ? i : to;
}

template <class V> uint64_t find(filter f, const uint8_t *buf, uint64_t from, uint64_t to, uint32_t *hits) {
    using F = filters<V>;
    switch (f) {
    case filter::xor1: return find_with<V, F::xor1>(f, buf, from, to, hits);
    case filter::xor4: return find_with<V, F::xor4>(f, buf, from, to, hits);
    case filter::rule: return find_with<V, F::rule>(f, buf, from, to, hits);
    case filter::add1: return find_with<V, F::add1>(f, buf, from, to, hits);
    case filter::widened: return find_with<V, F::widened>(f, buf, from, to, hits);
    case filter::add4: return find_with<V, F::add4>(f, buf, from, to, hits);
    }
    *hits = 0;
    return to;
}

template <class V>
uint64_t find_mz16(const uint8_t *buf, uint64_t i, uint64_t to, const mz16_pattern *keys, unsigned count,
                   uint32_t *hits) {
    // Blocks of 32 offsets keep the key phase of the first one.
    const unsigned phase = unsigned(i & 15);
    for (; i + 32 <= to; i += 32) {
        uint32_t block = 0;
        for (unsigned q = 0; q < 32; q += V::width) {
            const typename V::vec a = V::load(buf + i + q), b = V::load(buf + i + q + 1);
            const unsigned o = phase + q;
            auto match = [&](unsigned k) {
                return V::both(V::eq(a, V::load(keys[k].m + o)), V::eq(b, V::load(keys[k].z + o)));
            };
            // Two chains of keys, so that neither waits for the other.
            typename V::vec any = match(0), more = match(count - 1);
            for (unsigned k = 1; k + 1 < count; k += 2) {
                any = V::either(any, match(k));
                more = V::either(more, match(k + 1));
            }
            block |= V::bits(V::either(any, more)) << q;
        }
        if (block) {
            *hits = block;
            return i;
        }
    }
    uint32_t tail = 0;
    for (uint64_t u = 0; i + u < to; u++)
        for (unsigned k = 0; k < count; k++)
            if (keys[k].at(buf, i + u)) tail |= uint32_t(1) << u;
    *hits = tail;
    return tail ? i : to;
}

template <class V> void xor16(uint8_t *dst, const uint8_t *src, uint64_t j, uint64_t to, const uint8_t *key) {
    // A stride of whole key periods (and whole vectors) keeps every vector at
    // the same key phase: the key from phase j mod 16 is loaded once.
    constexpr unsigned stride = V::width > 16 ? V::width : 16, count = stride / V::width;
    if (to - j < 2 * stride) {
        for (; j < to; j++) dst[j] = uint8_t(src[j] ^ key[j & 15]);
        return;
    }
    uint8_t run[stride];
    for (unsigned t = 0; t < stride; t++) run[t] = key[(j + t) & 15];
    typename V::vec k[count];
    for (unsigned q = 0; q < count; q++) k[q] = V::load(run + q * V::width);
    for (; j + stride <= to; j += stride)
        for (unsigned q = 0; q < count; q++)
            V::store(dst + j + q * V::width, V::diff(V::load(src + j + q * V::width), k[q]));
    for (; j < to; j++) dst[j] = uint8_t(src[j] ^ key[j & 15]);
}

template <class V> void sub1(uint8_t *dst, const uint8_t *src, uint64_t j, uint64_t to, uint8_t k) {
    const typename V::vec kv = V::splat(k);
    for (; j + V::width <= to; j += V::width) V::store(dst + j, V::minus(V::load(src + j), kv));
    for (; j < to; j++) dst[j] = uint8_t(src[j] - k);
}

template <class V> constexpr lane_kernels kernels_of(const char *name, bool (*available)()) {
    return lane_kernels{name, available, find<V>, find_mz16<V>, xor16<V>, sub1<V>};
}

}  // namespace
}  // namespace kq::xordetect
