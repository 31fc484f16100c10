// Preprocessing of a Boyer-Moore pattern: the three shift tables.
#include "search/boyer_moore.h"

namespace kq {

void bm_bad_char_table(const uint8_t *x, int32_t m, int32_t *bad_char) {
    for (int32_t b = 0; b < 256; b++) bad_char[b] = m;
    // The last byte is left out: a window whose last byte matches needs the
    // next occurrence to the left, not the byte itself.
    for (int32_t i = 0; i < m - 1; i++) bad_char[x[i]] = m - 1 - i;
}

// suffix_len[i]: the longest common suffix of x[0..i] and x. Linear: the
// window [g+1, f] is the rightmost suffix match found so far, and positions
// inside it reuse the value of their mirror at the pattern's end.
void bm_suffixes(const uint8_t *x, int32_t m, int32_t *suffix_len) {
    suffix_len[m - 1] = m;
    int32_t g = m - 1, f = 0;
    for (int32_t i = m - 2; i >= 0; i--) {
        if (i > g && suffix_len[i + m - 1 - f] < i - g) {
            suffix_len[i] = suffix_len[i + m - 1 - f];
        } else {
            if (i < g) g = i;
            f = i;
            while (g >= 0 && x[g] == x[g + m - 1 - f]) g--;
            suffix_len[i] = f - g;
        }
    }
}

void bm_good_suffix_table(const uint8_t *x, int32_t m, int32_t *good_suffix, int32_t *suffix_len) {
    bm_suffixes(x, m, suffix_len);
    for (int32_t i = 0; i < m; i++) good_suffix[i] = m;
    // Shifts that align a prefix of the pattern with the matched suffix.
    int32_t j = 0;
    for (int32_t i = m - 1; i >= -1; i--) {
        if (i == -1 || suffix_len[i] == i + 1) {
            for (; j < m - 1 - i; j++)
                if (good_suffix[j] == m) good_suffix[j] = m - 1 - i;
        }
    }
    // Shifts that align an inner re-occurrence of the matched suffix.
    for (int32_t i = 0; i <= m - 2; i++) good_suffix[m - 1 - suffix_len[i]] = m - 1 - i;
}

}  // namespace kq
