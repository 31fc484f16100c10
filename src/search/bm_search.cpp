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
#include <emmintrin.h>

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

template <class Cmp>
int32_t kernel(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, const int32_t *good_suffix,
               const int32_t *bad_char) {
    if (n - m < 0) return -1;
    const int32_t last = n - m;  // the last window start
    int32_t j = 0;
    if (cpu_has_sse2()) {
        scan_result r = candidate_scan<Cmp>(x, m, y, n);
        if (r.done) return r.value;
        j = r.value;
        if (j > last) return -1;
    }
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

}  // namespace

int32_t bm_search(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, const int32_t *good_suffix,
                  const int32_t *bad_char) {
    return kernel<exact>(x, m, y, n, good_suffix, bad_char);
}

int32_t bm_search_nocase(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, const int32_t *good_suffix,
                         const int32_t *bad_char) {
    return kernel<nocase>(x, m, y, n, good_suffix, bad_char);
}

}  // namespace kq
