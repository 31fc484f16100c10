// The Boyer-Moore search kernels. Each compares the window right to left and
// moves it by the larger of the good-suffix and bad-character shifts. Before
// the full comparison a tight loop skips windows whose last byte already
// differs, by the bad-character distance of that byte: a shift the full rule
// would also allow, so the first occurrence found is the same.
#include "search/boyer_moore.h"

namespace kq {
namespace {

inline int32_t max32(int32_t a, int32_t b) { return a < b ? b : a; }

// Text bytes as the kernel compares them.
struct exact {
    static uint8_t fold(uint8_t b) { return b; }
    static bool same(uint8_t p, uint8_t t) { return p == t; }
};
struct nocase {
    static uint8_t fold(uint8_t b) { return ascii_to_lower(b); }
    static bool same(uint8_t p, uint8_t t) { return p == t || p == ascii_to_lower(t); }
};

template <class Cmp>
int32_t kernel(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, const int32_t *good_suffix,
               const int32_t *bad_char) {
    if (n - m < 0) return -1;
    const int32_t last = n - m;  // the last window start
    const uint8_t tail = x[m - 1];
    const uint8_t *end = y + (m - 1);  // end[j]: the last text byte of window j
    int32_t j = 0;
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
