// Boyer-Moore building blocks: ASCII lower-casing, the bad-character,
// suffix and good-suffix tables, and the two search stages. None of them
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

// The vector unit a scan may use; best_vector_unit() is this processor's.
enum class vector_unit { none, sse2, avx2 };
vector_unit best_vector_unit();

// Patterns at least this long take the pair scan whatever the vector unit.
inline constexpr int32_t kPairScanMinLength = 32;

// A search is bm_scan, then, when it hands over, bm_search_from. x is the
// pattern (m >= 1 bytes; lower-cased when fold_case, which compares text
// bytes through ascii_to_lower), y the text (n bytes).
//
// The first stage needs no tables. true: *at is the leftmost occurrence (-1:
// none); false: *at is the window where bm_search_from goes on.
bool bm_scan(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, bool fold_case, vector_unit unit,
             int32_t *at);
// The Boyer-Moore loop from window start on: the leftmost occurrence at or
// after start, or -1.
int32_t bm_search_from(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, const int32_t *good_suffix,
                       const int32_t *bad_char, bool fold_case, int32_t start);

}  // namespace kq
