// The SSE2 and AVX2 lane types differ only in vector width and intrinsic
// names (_mm_*_si128 against _mm256_*_si256): one definition for both, used
// by the XOR lanes and the search kernels. Each user includes its own
// intrinsics header and is built with its own flags.
#pragma once

#define KQ_X86_LANES(NAME, VEC, WIDTH, MM, SI)                                                            \
    struct NAME {                                                                                         \
        using vec = VEC;                                                                                  \
        static constexpr unsigned width = WIDTH;                                                          \
        static vec load(const uint8_t *p) { return MM##_loadu_##SI(reinterpret_cast<const vec *>(p)); }   \
        static void store(uint8_t *p, vec v) { MM##_storeu_##SI(reinterpret_cast<vec *>(p), v); }         \
        static vec splat(uint8_t b) { return MM##_set1_epi8(char(b)); }                                   \
        static vec eq(vec a, vec b) { return MM##_cmpeq_epi8(a, b); }                                     \
        static vec zero(vec a) { return MM##_cmpeq_epi8(a, MM##_setzero_##SI()); }                        \
        static vec both(vec a, vec b) { return MM##_and_##SI(a, b); }                                     \
        static vec either(vec a, vec b) { return MM##_or_##SI(a, b); }                                    \
        static vec diff(vec a, vec b) { return MM##_xor_##SI(a, b); }                                     \
        static vec join(vec a, vec b) { return MM##_or_##SI(a, b); }                                      \
        static vec minus(vec a, vec b) { return MM##_sub_epi8(a, b); }                                    \
        static uint32_t bits(vec m) { return uint32_t(MM##_movemask_epi8(m)); }                           \
    }
