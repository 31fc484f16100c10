// The portable kernels: one machine word holds several lanes, and the lane
// arithmetic keeps carries from crossing byte boundaries.
#include "xordetect/lane_loops.h"

namespace kq::xordetect {
namespace {

struct word_lanes {
    using vec = uintptr_t;
    static constexpr unsigned width = sizeof(vec);
    static constexpr vec ones = ~vec(0) / 0xFF, low7 = ones * 0x7F, high = ones * 0x80;

    static vec load(const uint8_t *p) {
        vec v;
        memcpy(&v, p, sizeof v);  // little-endian: lane t is p[t]
        return v;
    }
    static void store(uint8_t *p, vec v) { memcpy(p, &v, sizeof v); }
    static vec splat(uint8_t b) { return ones * b; }
    // 0x80 in each lane where a and b agree (exact: no carries between lanes).
    static vec eq(vec a, vec b) {
        const vec x = a ^ b;
        return ~(((x & low7) + low7) | x | low7);
    }
    static vec zero(vec a) { return eq(a, 0); }
    static vec both(vec a, vec b) { return a & b; }
    static vec either(vec a, vec b) { return a | b; }
    static vec diff(vec a, vec b) { return a ^ b; }
    static vec join(vec a, vec b) { return a | b; }
    static vec minus(vec a, vec b) { return ((a | high) - (b & low7)) ^ ((a ^ ~b) & high); }
    // Gathers the 0x80 flags of the lanes into bits 0 .. width-1.
    static uint32_t bits(vec m) {
        vec b = m >> 7;
        b |= b >> 7;
        b |= b >> 14;
        if constexpr (width == 8) b |= b >> 28;
        return uint32_t(b) & ((1u << width) - 1);
    }
};

bool always() { return true; }

}  // namespace

constexpr lane_kernels portable_lane_kernels = kernels_of<word_lanes>("portable", always);

}  // namespace kq::xordetect
