// The AVX2 candidate scan: 32 windows a step. Built with -mavx2 (see
// CMakeLists.txt); run only where the processor supports AVX2.
#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>

#include "common/x86_lanes.h"
#include "search/candidate_loop.h"

namespace kq {
namespace {

KQ_X86_LANES(avx2_lanes, __m256i, 32, _mm256, si256);

}  // namespace

scan_result candidate_scan_avx2(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, bool fold_case) {
    return candidate_scan_with<avx2_lanes>(x, m, y, n, fold_case);
}

}  // namespace kq
#endif
