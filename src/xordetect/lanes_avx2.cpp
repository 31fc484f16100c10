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

// The pair filter eight offsets a vector: the pairs are widened to 32-bit
// lanes in place and the filter's words gathered. Vectors start at multiples
// of 8 from a multiple of 16, so lane j is residue j or j + 8.
uint64_t find_pairs_gather(const uint8_t *buf, uint64_t i, uint64_t to, const pair_filter *f, uint32_t *hits) {
    if (i % 16 == 0) {
        const __m256i first = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), second = _mm256_setr_epi32(8, 9, 10, 11, 12, 13, 14, 15);
        const __m256i mz = _mm256_set1_epi32(0x5A4D), mask = _mm256_set1_epi32(int(f->mask));
        const __m256i low5 = _mm256_set1_epi32(31);
        const int *const words = reinterpret_cast<const int *>(f->bits);
        auto lanes = [&](const uint8_t *p, __m256i residue) {
            const __m256i lo = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)));
            const __m256i hi = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + 1)));
            const __m256i v = _mm256_and_si256(_mm256_xor_si256(_mm256_or_si256(lo, _mm256_slli_epi32(hi, 8)), mz), mask);
            const __m256i bit = _mm256_or_si256(_mm256_slli_epi32(v, 4), residue);
            const __m256i word = _mm256_i32gather_epi32(words, _mm256_srli_epi32(bit, 5), 4);
            const __m256i set = _mm256_slli_epi32(_mm256_srlv_epi32(word, _mm256_and_si256(bit, low5)), 31);
            return uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(set)));
        };
        for (; i + 32 <= to; i += 32) {
            const uint32_t block = lanes(buf + i, first) | (lanes(buf + i + 8, second) << 8) |
                                   (lanes(buf + i + 16, first) << 16) | (lanes(buf + i + 24, second) << 24);
            if (block) {
                *hits = block;
                return i;
            }
        }
    }
    return find_pairs_each(buf, i, to, f, hits);
}

}  // namespace

constexpr lane_kernels avx2_lane_kernels = kernels_of<avx2_lanes>("avx2", cpu_has_avx2, find_pairs_gather);

}  // namespace kq::xordetect
#endif
