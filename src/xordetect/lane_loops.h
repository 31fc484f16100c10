// The kernels of lane_kernels.h written once over a lane type V: each
// instruction set's file instantiates them with its own V and compiler flags.
// Everything here has internal linkage on purpose, so that code compiled for
// AVX2 can never be shared with (and run by) the portable path.
//
// V provides: width (bytes per vector: 4, 8, 16, 32 or 64), vec, load(p),
// store(p, v), splat(b), eq(a, b) and zero(a) (lane masks: a vector, or a
// mask register), both(m1, m2), either(m1, m2), diff(a, b) (XOR), join(a, b)
// (OR), minus(a, b) (byte-wise), and bits(mask): bit t set when lane t is set
// in the mask (64 bits for 64 lanes).
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

    // Lanes where every difference given is zero: each condition a == b is
    // written as a XOR b (with the constant folded in), the differences are
    // joined, and one test per vector finds the lanes where all hold (AVX-512
    // merges each join with its XOR).
    static auto none(vec d) { return V::zero(d); }
    static auto none(vec d1, vec d2) { return V::zero(V::join(d1, d2)); }
    static auto none(vec d1, vec d2, vec d3) { return V::zero(V::join(V::join(d1, d2), d3)); }
    static vec x(vec a, vec b) { return V::diff(a, b); }
    static vec x(vec a, vec b, uint8_t k) { return V::diff(V::diff(a, b), c(k)); }

    // k = byte XOR 'M': the next byte and both high bytes of e_lfanew decode
    // to 'Z', 0 and 0.
    static auto xor1(const uint8_t *p) {
        const vec v = at(p, 0), k = x(v, c('M'));
        return V::bits(none(x(k, at(p, 1), 'Z'), x(k, at(p, 0x3E)), x(k, at(p, 0x3F))));
    }

    static auto add1(const uint8_t *p) {
        const vec v = at(p, 0), k = V::minus(v, c('M'));
        return V::bits(none(x(V::minus(at(p, 1), v), c('Z' - 'M')), x(at(p, 0x3E), k), x(at(p, 0x3F), k)));
    }

    // Signature key k = u32 at i XOR 0x4550, Machine key from u32 at i+2:
    // Magic (u16 at +0x18) must decode to 0x10B and Subsystem's high byte
    // (+0x5D) to 0.
    static auto xor4(const uint8_t *p) {
        const vec m0 = at(p, 0x18), m1 = at(p, 0x19), sub = at(p, 0x5D), s1 = at(p, 1), s3 = at(p, 3);
        const auto sig = none(x(m0, at(p, 0), 0x0B ^ 0x50), x(m1, s1, 0x01 ^ 0x45), x(sub, s1, 0x45));
        const auto mach = none(x(m0, at(p, 2), 0x0B), x(m1, s3, 0x01), x(sub, s3));
        return V::bits(V::either(sig, mach));
    }

    // Lanes t = 0, 4, 8, ... of a vector loaded at a multiple of 4.
    static auto rule(const uint8_t *p) {
        const vec v = at(p, 0);
        const auto same = V::bits(none(x(v, at(p, 4)), x(v, at(p, 8)), x(v, at(p, 12))));
        const auto zero = V::bits(none(v));
        const decltype(same) firsts = 0x1111111111111111ull >> (64 - V::width);
        const decltype(same) words_same = same & (same >> 1) & (same >> 2) & (same >> 3) & firsts;
        const decltype(same) words_zero = zero & (zero >> 1) & (zero >> 2) & (zero >> 3) & firsts;
        return words_same & ~words_zero;
    }

    static auto widened(const uint8_t *p) {
        return V::bits(V::zero(V::join(V::join(x(at(p, 0), c(0x50)), at(p, 1)), V::join(x(at(p, 2), c(0x45)), x(at(p, 8), c(0x4C))))));
    }

    // d = u32 at i equals u32 at i+4, and Magic (u16 at i+0x20) minus d's low
    // half is 0x10B or 0x10C.
    static auto add4(const uint8_t *p) {
        const vec v = at(p, 0), magic = V::minus(at(p, 0x20), v);
        const auto same = none(x(v, at(p, 4)), x(at(p, 1), at(p, 5)));
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

// Whole vectors from i while they fit below `to`; lanes(at, q) gives the
// bits of the vector at offset at, q bytes into its block of 32. Returns the
// first block of 32 offsets with hits (*hits not 0), or where the vectors end
// (*hits 0). A vector of 64 lanes answers for two blocks.
template <class V, class Lanes> uint64_t find_vectors(uint64_t i, uint64_t to, Lanes lanes, uint32_t *hits) {
    if constexpr (V::width == 64) {
        for (; i + 64 <= to; i += 64) {
            const uint64_t two = lanes(i, 0u);
            if (uint32_t(two)) {
                *hits = uint32_t(two);
                return i;
            }
            if (two) {
                *hits = uint32_t(two >> 32);
                return i + 32;
            }
        }
    } else {
        static_assert(32 % V::width == 0, "a block of 32 offsets is whole vectors");
        for (; i + 32 <= to; i += 32) {
            uint32_t block = 0;
            for (unsigned q = 0; q < 32; q += V::width) block |= uint32_t(lanes(i + q, q)) << q;
            if (block) {
                *hits = block;
                return i;
            }
        }
    }
    *hits = 0;
    return i;
}

// Offsets one at a time (every step-th), 32 at most a block: the offsets past
// the last whole vector, and the paths without vectors.
template <class Passes> uint64_t find_one_by_one(uint64_t i, uint64_t to, unsigned step, Passes passes, uint32_t *hits) {
    for (; i < to; i += 32) {
        uint32_t block = 0;
        for (uint64_t u = 0; u < 32 && i + u < to; u += step)
            if (passes(i + u)) block |= uint32_t(1) << u;
        if (block) {
            *hits = block;
            return i;
        }
    }
    *hits = 0;
    return to;
}

template <class V, auto lanes> uint64_t find_with(filter f, const uint8_t *buf, uint64_t i, uint64_t to, uint32_t *hits) {
    i = find_vectors<V>(i, to, [buf](uint64_t at, unsigned) { return lanes(buf + at); }, hits);
    if (*hits) return i;
    return find_one_by_one(i, to, f == filter::rule ? 4 : 1, [f, buf](uint64_t o) { return one(f, buf + o); }, hits);
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
    // Vectors at i + 16 t keep the key phase of the first one.
    const unsigned phase = unsigned(i & 15);
    auto lanes = [&](uint64_t at, unsigned q) {
        const unsigned o = phase + q;
        const typename V::vec a = V::load(buf + at), b = V::load(buf + at + 1);
        auto match = [&](unsigned k) {
            return V::both(V::eq(a, V::load(keys[k].m + o)), V::eq(b, V::load(keys[k].z + o)));
        };
        // Two chains of keys, so that neither waits for the other.
        auto any = match(0), more = match(count - 1);
        for (unsigned k = 1; k + 1 < count; k += 2) {
            any = V::either(any, match(k));
            more = V::either(more, match(k + 1));
        }
        return V::bits(V::either(any, more));
    };
    i = find_vectors<V>(i, to, lanes, hits);
    if (*hits) return i;
    return find_one_by_one(i, to, 1, [&](uint64_t o) {
        for (unsigned k = 0; k < count; k++)
            if (keys[k].at(buf, o)) return true;
        return false;
    }, hits);
}

// The pair filter one offset at a time: the paths without gathers, and the
// offsets past the last whole vector.
inline uint64_t find_pairs_each(const uint8_t *buf, uint64_t i, uint64_t to, const pair_filter *f, uint32_t *hits) {
    return find_one_by_one(i, to, 1, [buf, f](uint64_t o) { return f->passes(buf, o); }, hits);
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

template <class V>
constexpr lane_kernels kernels_of(const char *name, bool (*available)(),
                                  decltype(lane_kernels::find_pairs) pairs = find_pairs_each) {
    return lane_kernels{name, available, find<V>, find_mz16<V>, pairs, xor16<V>, sub1<V>};
}

}  // namespace
}  // namespace kq::xordetect
