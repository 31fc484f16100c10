// The search kernels. A search runs in two stages:
//
// 1. A scan that needs no tables. Patterns under kPairScanMinLength bytes
//    take a candidate scan where the processor has vectors (SSE2, AVX2): the
//    first and the last pattern byte are tested for 16 or 32 windows at once
//    and only the windows where both fit are verified, in order, so the first
//    occurrence found is the leftmost. Longer patterns take a pair scan: a
//    window whose last two text bytes occur nowhere in the pattern moves by
//    m - 1 (a fixed stride, so the processor can run ahead of the loads), any
//    other moves to align the rightmost pattern pair with the same hash, and
//    a window whose last pair fits is verified whole.
// 2. The Boyer-Moore loop (good-suffix and bad-character shifts, with a skip
//    loop on the window's last byte), which keeps the search linear. A scan
//    hands the rest of the text over to it when verifications cost more than
//    twice the text already covered plus 4 KiB (texts that repeat the
//    pattern's ends everywhere); without vectors short patterns start there.
#include <string.h>

#include "module/cpu_features.h"
#include "search/boyer_moore.h"
#include "search/candidate_scan.h"
#include "search/verifier.h"

namespace kq {
namespace {

inline int32_t max32(int32_t a, int32_t b) { return a < b ? b : a; }

// 4096 buckets: few enough to clear quickly, enough that the pairs of a
// 255-byte pattern rarely share one.
inline constexpr unsigned kPairBuckets = 4096;
inline unsigned pair_hash(uint8_t a, uint8_t b) { return ((a << 4) ^ b) & (kPairBuckets - 1); }

template <class Cmp>
scan_result pair_scan(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n) {
    // end[h]: k + 1 for the rightmost pattern pair x[k-1..k] with hash h, 0
    // where none. Collisions only shorten moves.
    uint8_t end[kPairBuckets];
    memset(end, 0, sizeof end);
    for (int32_t k = 1; k < m; k++) end[pair_hash(x[k - 1], x[k])] = static_cast<uint8_t>(k + 1);
    // After a failed verification: to the next pair left with the last pair's hash.
    const unsigned last = pair_hash(x[m - 2], x[m - 1]);
    int32_t after_mismatch = m - 1;
    for (int32_t k = m - 2; k >= 1; k--)
        if (pair_hash(x[k - 1], x[k]) == last) {
            after_mismatch = m - 1 - k;
            break;
        }
    verifier<Cmp> v{x, m, y};
    const uint32_t size = static_cast<uint32_t>(n), stride = static_cast<uint32_t>(m - 1);
    uint32_t e = stride;  // the window's last byte; unsigned: e + stride cannot wrap
    scan_result r;
    for (;;) {
        uint32_t t = 0;
        while (e < size && (t = end[pair_hash(Cmp::fold(y[e - 1]), Cmp::fold(y[e]))]) == 0) e += stride;
        if (e >= size) return {true, -1};
        if (t != static_cast<uint32_t>(m)) {
            e += m - t;
            continue;
        }
        const int32_t j = static_cast<int32_t>(e - stride);
        if (Cmp::same(x[0], y[j]) && Cmp::same(x[m - 1], y[e]) && v.check(j, &r)) return r;
        v.work++;
        e += after_mismatch;
    }
}

// The Boyer-Moore loop from window j on.
template <class Cmp>
int32_t bm_loop(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, const int32_t *good_suffix,
                const int32_t *bad_char, int32_t j) {
    const int32_t last = n - m;  // the last window start
    if (j > last) return -1;
    const uint8_t tail = x[m - 1];
    const uint8_t *end = y + (m - 1);  // end[j]: the last text byte of window j
    for (;;) {
        // Windows whose last byte cannot match: bad_char[b] >= 1 for every b.
        while (!Cmp::same(tail, end[j])) {
            j += bad_char[Cmp::fold(end[j])];
            if (j > last) return -1;
        }
        int32_t i = m - 2;
        while (i >= 0 && Cmp::same(x[i], y[i + j])) i--;
        if (i < 0) return j;
        j += max32(good_suffix[i], bad_char[Cmp::fold(y[i + j])] - m + 1 + i);
        if (j > last) return -1;
    }
}

template <class Cmp> scan_result scan(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, vector_unit unit) {
    if (n - m < 0) return {true, -1};
    if (m >= kPairScanMinLength) return pair_scan<Cmp>(x, m, y, n);
    const bool fold_case = Cmp::folds;
    if (unit == vector_unit::avx2) return candidate_scan_avx2(x, m, y, n, fold_case);
    if (unit == vector_unit::sse2) return candidate_scan_sse2(x, m, y, n, fold_case);
    return {false, 0};
}

}  // namespace

vector_unit best_vector_unit() {
    return cpu_has_avx2() ? vector_unit::avx2 : cpu_has_sse2() ? vector_unit::sse2 : vector_unit::none;
}

bool bm_scan(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, bool fold_case, vector_unit unit,
             int32_t *at) {
    const scan_result r = fold_case ? scan<nocase>(x, m, y, n, unit) : scan<exact>(x, m, y, n, unit);
    *at = r.value;
    return r.done;
}

int32_t bm_search_from(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, const int32_t *good_suffix,
                       const int32_t *bad_char, bool fold_case, int32_t start) {
    if (n - m < 0) return -1;
    return fold_case ? bm_loop<nocase>(x, m, y, n, good_suffix, bad_char, start)
                     : bm_loop<exact>(x, m, y, n, good_suffix, bad_char, start);
}

}  // namespace kq
