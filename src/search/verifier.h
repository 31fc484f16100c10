// What the scans share: the two ways of comparing text bytes and the
// verification of candidate windows. Included by the portable scans and by
// each instruction set's candidate scan, so everything has internal
// linkage: code built for AVX2 is never shared with the rest.
#pragma once

#include <stdint.h>

#include "search/boyer_moore.h"
#include "search/candidate_scan.h"

namespace kq {
namespace {

// Text bytes as the kernel compares them.
struct exact {
    static constexpr bool folds = false;
    static uint8_t fold(uint8_t b) { return b; }
    static bool same(uint8_t p, uint8_t t) { return p == t; }
    // Bits to OR into text bytes so that every byte that matches p becomes p.
    static uint8_t fold_bits(uint8_t) { return 0; }
};
struct nocase {
    static constexpr bool folds = true;
    static uint8_t fold(uint8_t b) { return ascii_to_lower(b); }
    static bool same(uint8_t p, uint8_t t) { return p == t || p == ascii_to_lower(t); }
    // A lower-case letter p is met by p and p - 0x20, both of which OR 0x20
    // gives p; any other p only by itself.
    static uint8_t fold_bits(uint8_t p) { return (p >= 'a' && p <= 'z') ? 0x20 : 0; }
};

// Verification of candidate windows, shared by the scans; counts the bytes
// compared against the budget.
template <class Cmp> struct verifier {
    const uint8_t *x;
    int32_t m;
    const uint8_t *y;
    int64_t work = 0;

    // Window w fits at its first and last byte. true: stop with *r.
    bool check(int32_t w, scan_result *r) {
        int32_t i = 1;
        while (i < m - 1 && Cmp::same(x[i], y[w + i])) i++;
        if (i >= m - 1) {
            *r = {true, w};
            return true;
        }
        work += i;
        if (work > 2 * static_cast<int64_t>(w) + 4096) {
            *r = {false, w};
            return true;
        }
        return false;
    }
    // The windows j + bit of mask, leftmost first.
    bool check_mask(int32_t j, uint32_t mask, scan_result *r) {
        for (; mask; mask &= mask - 1)
            if (check(j + __builtin_ctz(mask), r)) return true;
        return false;
    }
    // Windows from..n - m one by one: the few a vector block cannot cover.
    scan_result finish(int32_t from, int32_t n) {
        scan_result r{true, -1};
        const uint8_t first = x[0], tail = x[m - 1];
        for (int32_t w = from; w <= n - m; w++)
            if (Cmp::same(first, y[w]) && Cmp::same(tail, y[w + m - 1]) && check(w, &r)) return r;
        return {true, -1};
    }
};

}  // namespace
}  // namespace kq
