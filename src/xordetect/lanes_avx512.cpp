// The AVX-512 kernels: sixty-four lanes per vector, comparisons into mask
// registers. Built with -mavx512f -mavx512bw (see CMakeLists.txt); run only
// where the processor has the byte instructions and the system saves the
// mask and 512-bit registers.
#if defined(__i386__) || defined(__x86_64__)
// GCC 12 warns inside its own AVX-512 header (the undefined vector some
// intrinsics start from), not about this file.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
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

// The pair filter sixteen offsets a vector: the pairs are widened to 32-bit
// lanes in place and the filter's words gathered. Vectors start at multiples
// of 16, so lane j is residue j.
uint64_t find_pairs_gather(const uint8_t *buf, uint64_t i, uint64_t to, const pair_filter *f, uint32_t *hits) {
    if (i % 16 == 0) {
        const __m512i residue = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
        const __m512i mz = _mm512_set1_epi32(0x5A4D), mask = _mm512_set1_epi32(int(f->mask));
        const __m512i low5 = _mm512_set1_epi32(31), one = _mm512_set1_epi32(1);
        auto lanes = [&](const uint8_t *p) {
            const __m512i lo = _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
            const __m512i hi = _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 1)));
            const __m512i v = _mm512_and_si512(_mm512_xor_si512(_mm512_or_si512(lo, _mm512_slli_epi32(hi, 8)), mz), mask);
            const __m512i bit = _mm512_or_si512(_mm512_slli_epi32(v, 4), residue);
            const __m512i word = _mm512_i32gather_epi32(_mm512_srli_epi32(bit, 5), f->bits, 4);
            return uint32_t(_mm512_test_epi32_mask(_mm512_srlv_epi32(word, _mm512_and_si512(bit, low5)), one));
        };
        for (; i + 32 <= to; i += 32) {
            const uint32_t block = lanes(buf + i) | (lanes(buf + i + 16) << 16);
            if (block) {
                *hits = block;
                return i;
            }
        }
    }
    return find_pairs_each(buf, i, to, f, hits);
}

}  // namespace

constexpr lane_kernels avx512_lane_kernels =
    kernels_of<avx512_lanes>("avx512", cpu_has_avx512bw, find_pairs_gather);

}  // namespace kq::xordetect
#endif
