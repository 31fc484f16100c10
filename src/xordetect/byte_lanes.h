// Word-at-a-time filters: one machine word compares several consecutive
// offsets at once, so the common "no candidate here" case costs a few
// instructions per word instead of per byte.
#pragma once

#include <stdint.h>
#include <string.h>

namespace kq::xordetect {

using lane_word = uintptr_t;
inline constexpr unsigned kLaneBytes = sizeof(lane_word);
inline constexpr lane_word kLaneOnes = ~lane_word(0) / 0xFF;  // 0x0101...
inline constexpr lane_word kLaneLow7 = kLaneOnes * 0x7F;
inline constexpr lane_word kLaneHigh = kLaneOnes * 0x80;

inline lane_word load_lanes(const uint8_t *p) {
    lane_word v;
    memcpy(&v, p, sizeof v);  // little-endian: byte t of v is p[t]
    return v;
}

// 0x80 in every byte of v that is zero, 0 elsewhere (exact, no carries).
inline lane_word zero_lanes(lane_word v) { return ~(((v & kLaneLow7) + kLaneLow7) | v | kLaneLow7); }

inline lane_word equal_lanes(lane_word v, uint8_t b) { return zero_lanes(v ^ (kLaneOnes * b)); }

// Byte-wise sum without carries between bytes.
inline lane_word add_lanes(lane_word a, lane_word c) { return ((a & kLaneLow7) + (c & kLaneLow7)) ^ ((a ^ c) & kLaneHigh); }

// Index of the lowest flagged byte of a mask from the functions above.
inline unsigned first_lane(lane_word mask) {
    if constexpr (sizeof(lane_word) == 8)
        return unsigned(__builtin_ctzll(mask)) / 8;
    else
        return unsigned(__builtin_ctz(uint32_t(mask))) / 8;
}

// Calls visit(i) for every i in [begin, end) that may hit, in increasing
// order. lanes(i) flags the offsets i..i+kLaneBytes-1 that may hit (it reads
// at most kLaneBytes + reach bytes past i), one(i) answers for a single offset
// and must agree with lanes. visit returns true to stop; the stopping offset
// is returned, or end when nothing stopped.
template <class Lanes, class One, class Visit>
inline uint64_t scan_offsets(uint64_t begin, uint64_t end, Lanes lanes, One one, Visit visit) {
    uint64_t i = begin;
    for (; i + kLaneBytes <= end; i += kLaneBytes) {
        lane_word m = lanes(i);
        while (m) {
            const uint64_t at = i + first_lane(m);
            if (visit(at)) return at;
            m &= m - 1;
        }
    }
    for (; i < end; i++)
        if (one(i) && visit(i)) return i;
    return end;
}

}  // namespace kq::xordetect
