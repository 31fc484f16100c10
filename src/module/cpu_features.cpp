#include "module/cpu_features.h"

#include <cpuid.h>

namespace kq {
namespace {

inline constexpr unsigned kKnown = 1u << 0;
inline constexpr unsigned kSse2 = 1u << 1;
inline constexpr unsigned kPclmul = 1u << 2;
inline constexpr unsigned kAvx2 = 1u << 3;

// Two threads asking at once compute the same word, so a relaxed atomic is
// enough; this is the module's only writable static and holds no state of
// any caller.
unsigned features_word = 0;

unsigned xcr0() {
    unsigned lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return lo;
}

unsigned features() {
    unsigned f = __atomic_load_n(&features_word, __ATOMIC_RELAXED);
    if (!(f & kKnown)) {
        unsigned a = 0, b = 0, c = 0, d = 0;
        f = kKnown;
        if (__get_cpuid(1, &a, &b, &c, &d)) {
            if (d & bit_SSE2) f |= kSse2;
            if ((d & bit_SSE2) && (c & bit_PCLMUL)) f |= kPclmul;
            // AVX2 needs the processor's support and the system's: it must
            // save the vector registers' upper halves (XCR0 bits 1 and 2).
            if ((c & bit_OSXSAVE) && (c & bit_AVX) && (xcr0() & 6) == 6 && __get_cpuid_max(0, nullptr) >= 7) {
                __cpuid_count(7, 0, a, b, c, d);
                if (b & bit_AVX2) f |= kAvx2;
            }
        }
        __atomic_store_n(&features_word, f, __ATOMIC_RELAXED);
    }
    return f;
}

}  // namespace

bool cpu_has_sse2() {
#if defined(__SSE2__)
    return true;
#else
    return (features() & kSse2) != 0;
#endif
}

bool cpu_has_pclmul() { return (features() & kPclmul) != 0; }

bool cpu_has_avx2() { return (features() & kAvx2) != 0; }

}  // namespace kq
