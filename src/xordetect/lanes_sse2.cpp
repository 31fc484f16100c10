// The SSE2 kernels: sixteen lanes per vector. Built with -msse2 (see
// CMakeLists.txt); chosen at run time on i386.
#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>

#include "common/x86_lanes.h"
#include "module/cpu_features.h"
#include "xordetect/lane_loops.h"

namespace kq::xordetect {
namespace {

KQ_X86_LANES(sse2_lanes, __m128i, 16, _mm, si128);

}  // namespace

constexpr lane_kernels sse2_lane_kernels = kernels_of<sse2_lanes>("sse2", cpu_has_sse2);

}  // namespace kq::xordetect
#endif
