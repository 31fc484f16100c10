// The AVX2 kernels: thirty-two lanes per vector. Built with -mavx2 (see
// CMakeLists.txt); run only where the processor and the system support AVX2.
#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>

#include "module/cpu_features.h"
#include "xordetect/lane_loops.h"

namespace kq::xordetect {
namespace {

struct avx2_lanes {
    using vec = __m256i;
    static constexpr unsigned width = 32;
    static vec load(const uint8_t *p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }
    static void store(uint8_t *p, vec v) { _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v); }
    static vec splat(uint8_t b) { return _mm256_set1_epi8(char(b)); }
    static vec eq(vec a, vec b) { return _mm256_cmpeq_epi8(a, b); }
    static vec both(vec a, vec b) { return _mm256_and_si256(a, b); }
    static vec either(vec a, vec b) { return _mm256_or_si256(a, b); }
    static vec diff(vec a, vec b) { return _mm256_xor_si256(a, b); }
    static vec plus(vec a, vec b) { return _mm256_add_epi8(a, b); }
    static vec minus(vec a, vec b) { return _mm256_sub_epi8(a, b); }
    static uint32_t bits(vec m) { return uint32_t(_mm256_movemask_epi8(m)); }
};

}  // namespace

constexpr lane_kernels avx2_lane_kernels = kernels_of<avx2_lanes>("avx2", cpu_has_avx2);

}  // namespace kq::xordetect
#endif
