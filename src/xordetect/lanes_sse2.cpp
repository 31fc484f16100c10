// The SSE2 kernels: sixteen lanes per vector. Built with -msse2 (see
// CMakeLists.txt); chosen at run time on i386.
#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>

#include "module/cpu_features.h"
#include "xordetect/lane_loops.h"

namespace kq::xordetect {
namespace {

struct sse2_lanes {
    using vec = __m128i;
    static constexpr unsigned width = 16;
    static vec load(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
    static void store(uint8_t *p, vec v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }
    static vec splat(uint8_t b) { return _mm_set1_epi8(char(b)); }
    static vec eq(vec a, vec b) { return _mm_cmpeq_epi8(a, b); }
    static vec both(vec a, vec b) { return _mm_and_si128(a, b); }
    static vec either(vec a, vec b) { return _mm_or_si128(a, b); }
    static vec diff(vec a, vec b) { return _mm_xor_si128(a, b); }
    static vec plus(vec a, vec b) { return _mm_add_epi8(a, b); }
    static vec minus(vec a, vec b) { return _mm_sub_epi8(a, b); }
    static uint32_t bits(vec m) { return uint32_t(_mm_movemask_epi8(m)); }
};

}  // namespace

constexpr lane_kernels sse2_lane_kernels = kernels_of<sse2_lanes>("sse2", cpu_has_sse2);

}  // namespace kq::xordetect
#endif
