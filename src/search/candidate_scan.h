// The candidate scans of short patterns, one per instruction set, each built
// with its own flags and called only where the processor has that set
// (best_vector_unit).
#pragma once

#include <stdint.h>

namespace kq {

struct scan_result {
    bool done;      // value is the answer
    int32_t value;  // the answer, or the window where Boyer-Moore goes on
};

// Pattern x (m bytes, lower-cased when fold_case), text y (n bytes, n >= m).
scan_result candidate_scan_sse2(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, bool fold_case);
scan_result candidate_scan_avx2(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, bool fold_case);

}  // namespace kq
