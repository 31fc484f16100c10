// The candidate scan written once over a lane type V (common/x86_lanes.h):
// the first and the last pattern byte are tested for V::width windows at
// once, and only the windows where both fit are verified, leftmost first.
#pragma once

#include "search/verifier.h"

namespace kq {
namespace {

template <class V, class Cmp> scan_result candidate_loop(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n) {
    using vec = typename V::vec;
    verifier<Cmp> v{x, m, y};
    const vec first = V::splat(x[0]), tail = V::splat(x[m - 1]);
    const vec first_or = V::splat(Cmp::fold_bits(x[0])), tail_or = V::splat(Cmp::fold_bits(x[m - 1]));
    const uint8_t *ends = y + m - 1;
    // Windows j..j+width-1 need y[j..] and ends[j..], width bytes each.
    const int32_t last_block = n - m - int32_t(V::width - 1);
    int32_t j = 0;
    scan_result r;
    for (; j <= last_block; j += int32_t(V::width)) {
        const vec a = V::either(V::load(y + j), first_or), b = V::either(V::load(ends + j), tail_or);
        const uint32_t mask = V::bits(V::both(V::eq(a, first), V::eq(b, tail)));
        if (mask && v.check_mask(j, mask, &r)) return r;
    }
    return v.finish(j, n);
}

template <class V>
scan_result candidate_scan_with(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, bool fold_case) {
    return fold_case ? candidate_loop<V, nocase>(x, m, y, n) : candidate_loop<V, exact>(x, m, y, n);
}

}  // namespace
}  // namespace kq
