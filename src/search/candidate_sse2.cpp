// The SSE2 candidate scan: 16 windows a step. Built with -msse2 (see
// CMakeLists.txt); run only where the processor supports SSE2.
#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>

#include "common/x86_lanes.h"
#include "search/candidate_loop.h"

namespace kq {
namespace {

KQ_X86_LANES(sse2_lanes, __m128i, 16, _mm, si128);

}  // namespace

scan_result candidate_scan_sse2(const uint8_t *x, int32_t m, const uint8_t *y, int32_t n, bool fold_case) {
    return candidate_scan_with<sse2_lanes>(x, m, y, n, fold_case);
}

}  // namespace kq
#endif
