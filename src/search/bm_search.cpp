// The Boyer-Moore search kernels. Each compares the window right to left and
// moves it by the larger of the good-suffix and bad-character shifts. Before
// the full comparison a tight loop skips windows whose last byte already
// differs, by the bad-character distance of that byte: a shift the full rule
// would also allow, so the first occurrence found is the same.
//
// Where the processor has SSE2, a candidate scan goes first: it tests the
// first and the last pattern byte for sixteen windows at once and verifies
// only the windows where both fit, in order, so it finds the same leftmost
// occurrence. When verifications cost more than the scan gains (texts that
// repeat the pattern's ends everywhere) it hands the rest of the text to the
// Boyer-Moore loop, which keeps the search linear.
//
// Long patterns go through a pair scan instead: a window moves by what its
// last two text bytes allow (the distance to the rightmost earlier pair of the
// pattern with the same hash, up to m - 1), so most of the text is never read.
// It hands over to the Boyer-Moore loop in the same way when verifications
// grow too expensive.
#include <emmintrin.h>
#include <string.h>

#include "module/cpu_features.h"
#include "search/boyer_moore.h"

namespace kq {
namespace {

inline int32_t max32(int32_t a, int32_t b) { return a < b ? b : a; }

// Text bytes as the kernel compares them.
struct exact {
    static uint8_t fold(uint8_t b) { return b; }
    static bool same(uint8_t p, uint8_t t) { return p == t; }
    // Bits to OR into text bytes so that every byte that matches p becomes p.
    static uint8_t fold_bits(uint8_t) { return 0; }
};
struct nocase {
    static uint8_t fold(uint8_t b) { return ascii_to_lower(b); }
    static bool same(uint8_t p, uint8_t t) { return p == t || p == ascii_to_lower(t); }
    // A lower-case letter p is met by p and p - 0x20, both of which OR 0x20
    // gives p; any other p only by itself.
    static uint8_t fold_bits(uint8_t p) { return (p >= 'a' && p <= 'z') ? 0x20 : 0; }
};

struct scan_result {
    bool done;      // result is the answer
    int32_t value;  // the answer, or the window where Boyer-Moore goes on
};

template <class Cmp>
__attribute__((target("sse2"))) scan_result candidate_scan(const uint8_t *x, int32_t m, const uint8_t *y,
                                                            int32_t n) {
    const uint8_t first = x[0], tail = x[m - 1];
    const __m128i first_v = _mm_set1_epi8(static_cast<char>(first));
    const __m128i tail_v = _mm_set1_epi8(static_cast<char>(tail));
    const __m128i first_or = _mm_set1_epi8(static_cast<char>(Cmp::fold_bits(first)));
    const __m128i tail_or = _mm_set1_epi8(static_cast<char>(Cmp::fold_bits(tail)));
    // Windows j..j+15 need y[j..j+15] and y[j+m-1..j+m+14].
    const int64_t last_block = static_cast<int64_t>(n) - m - 15;
    int64_t work = 0;  // bytes compared in verifications
    int32_t j = 0;
    for (; j <= last_block; j += 16) {
        __m128i a = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(y + j)), first_or);
        __m128i b = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(y + j + m - 1)), tail_or);
        unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first_v), _mm_cmpeq_epi8(b, tail_v))));
        while (mask) {
            const int32_t w = j + __builtin_ctz(mask);
            mask &= mask - 1;
            int32_t i = 1;
            while (i < m - 1 && Cmp::same(x[i], y[w + i])) i++;
            if (i >= m - 1) return {true, w};
            work += i;
            if (work > 2 * static_cast<int64_t>(w) + 4096) return {false, w};
        }
    }
    return {false, j};
}

// 4096 buckets: few enough to clear quickly, enough that the pairs of a
// 255-byte pattern rarely share one.
inline constexpr unsigned kPairBuckets = 4096;
inline unsigned pair_hash(uint8_t a, uint8_t b) { return ((a << 4) ^ b) & (kPairBuckets - 1); }

template <class Cmp>
scan_result pair_scan(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n) {
    // shift[h]: for the rightmost pattern pair x[k-1..k] (k < m - 1) with hash
    // h, m - 1 - k; m - 1 where none. Collisions only shorten shifts.
    uint8_t shift[kPairBuckets];
    memset(shift, m - 1, sizeof shift);
    for (int32_t k = 1; k < m - 1; k++) shift[pair_hash(x[k - 1], x[k])] = static_cast<uint8_t>(m - 1 - k);
    const unsigned last = pair_hash(x[m - 2], x[m - 1]);
    const int32_t after_mismatch = shift[last];  // where the last pair's hash recurs
    shift[last] = 0;
    int64_t work = 0;
    int32_t j = 0;
    while (j <= n - m) {
        const int32_t e = j + m - 1;
        const int32_t s = shift[pair_hash(Cmp::fold(y[e - 1]), Cmp::fold(y[e]))];
        if (s) {
            j += s;
            continue;
        }
        int32_t i = 0;
        while (i < m && Cmp::same(x[i], y[j + i])) i++;
        if (i == m) return {true, j};
        work += i + 1;
        if (work > 2 * static_cast<int64_t>(j) + 4096) return {false, j};
        j += after_mismatch;
    }
    return {true, -1};
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

template <class Cmp>
int32_t kernel(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, const int32_t *good_suffix,
               const int32_t *bad_char) {
    if (n - m < 0) return -1;
    int32_t j = 0;
    if (m >= kPairScanMinLength) {
        scan_result r = pair_scan<Cmp>(x, m, y, n);
        if (r.done) return r.value;
        j = r.value;
    } else if (cpu_has_sse2()) {
        scan_result r = candidate_scan<Cmp>(x, m, y, n);
        if (r.done) return r.value;
        j = r.value;
    }
    return bm_loop<Cmp>(x, m, y, n, good_suffix, bad_char, j);
}

}  // namespace

int32_t bm_search(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, const int32_t *good_suffix,
                  const int32_t *bad_char) {
    return kernel<exact>(x, m, y, n, good_suffix, bad_char);
}

int32_t bm_search_nocase(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, const int32_t *good_suffix,
                         const int32_t *bad_char) {
    return kernel<nocase>(x, m, y, n, good_suffix, bad_char);
}

bool bm_pair_scan(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, bool fold_case, int32_t *at) {
    if (n - m < 0) {
        *at = -1;
        return true;
    }
    scan_result r = fold_case ? pair_scan<nocase>(x, m, y, n) : pair_scan<exact>(x, m, y, n);
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
