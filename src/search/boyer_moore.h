// Boyer-Moore building blocks: ASCII lower-casing, the bad-character,
// suffix and good-suffix tables, and the two search kernels. None of them
// allocates or calls the host; the caller owns every table.
#pragma once

#include <stdint.h>

namespace kq {

// 'A'..'Z' become 'a'..'z'; every other byte value (also 0x80..0xFF) stays.
constexpr uint8_t ascii_to_lower(uint8_t b) { return static_cast<uint8_t>(static_cast<unsigned>(b - 'A') < 26u ? b + 0x20 : b); }

// Every table has room for at least 256 entries; m is 1..255 in practice.
void bm_bad_char_table(const uint8_t *x, int32_t m, int32_t *bad_char);
void bm_suffixes(const uint8_t *x, int32_t m, int32_t *suffix_len);
void bm_good_suffix_table(const uint8_t *x, int32_t m, int32_t *good_suffix, int32_t *suffix_len);

// The leftmost occurrence of x (m >= 1 bytes) in y (n bytes), or -1.
int32_t bm_search(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, const int32_t *good_suffix,
                  const int32_t *bad_char);
// The same with text bytes compared through ascii_to_lower; x and the tables
// must come from an already lower-cased pattern (a pattern with capitals may
// be missed where they occur).
int32_t bm_search_nocase(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, const int32_t *good_suffix,
                         const int32_t *bad_char);

// Patterns at least this long are searched by a pair scan first, which needs
// none of the tables: callers may build them only when it hands over.
inline constexpr int32_t kPairScanMinLength = 32;

// The pair scan alone (x lower-cased when fold_case). true: *at is the answer
// (-1: no occurrence); false: *at is the window where bm_search_from goes on.
bool bm_pair_scan(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, bool fold_case, int32_t *at);
// The Boyer-Moore loop alone, from window start on.
int32_t bm_search_from(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, const int32_t *good_suffix,
                       const int32_t *bad_char, bool fold_case, int32_t start);

}  // namespace kq
