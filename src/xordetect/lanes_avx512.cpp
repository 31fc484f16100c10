// The AVX-512 kernels: sixty-four lanes per vector, comparisons into mask
// registers. Built with -mavx512f -mavx512bw (see CMakeLists.txt); run only
// where the processor has the byte instructions and the system saves the
// mask and 512-bit registers.
#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>

#include "module/cpu_features.h"
#include "xordetect/lane_loops.h"

namespace kq::xordetect {
namespace {

struct avx512_lanes {
    using vec = __m512i;
    static constexpr unsigned width = 64;
    static vec load(const uint8_t *p) { return _mm512_loadu_si512(p); }
    static void store(uint8_t *p, vec v) { _mm512_storeu_si512(p, v); }
    static vec splat(uint8_t b) { return _mm512_set1_epi8(char(b)); }
    static __mmask64 eq(vec a, vec b) { return _mm512_cmpeq_epi8_mask(a, b); }
    static __mmask64 zero(vec a) { return _mm512_testn_epi8_mask(a, a); }
    static __mmask64 both(__mmask64 a, __mmask64 b) { return _kand_mask64(a, b); }
    static __mmask64 either(__mmask64 a, __mmask64 b) { return _kor_mask64(a, b); }
    static vec diff(vec a, vec b) { return _mm512_xor_si512(a, b); }
    static vec join(vec a, vec b) { return _mm512_or_si512(a, b); }
    static vec minus(vec a, vec b) { return _mm512_sub_epi8(a, b); }
    static uint64_t bits(__mmask64 m) { return uint64_t(m); }
};

}  // namespace

constexpr lane_kernels avx512_lane_kernels = kernels_of<avx512_lanes>("avx512", cpu_has_avx512bw);

}  // namespace kq::xordetect
#endif
