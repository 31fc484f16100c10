// The AVX2 kernels: thirty-two lanes per vector. Built with -mavx2 (see
// CMakeLists.txt); run only where the processor and the system support AVX2.
#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>

#include "common/x86_lanes.h"
#include "module/cpu_features.h"
#include "xordetect/lane_loops.h"

namespace kq::xordetect {
namespace {

KQ_X86_LANES(avx2_lanes, __m256i, 32, _mm256, si256);

}  // namespace

constexpr lane_kernels avx2_lane_kernels = kernels_of<avx2_lanes>("avx2", cpu_has_avx2);

}  // namespace kq::xordetect
#endif
