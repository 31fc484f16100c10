#include "module/cpu_features.h"

#include <cpuid.h>

namespace kq {
namespace {

inline constexpr unsigned kKnown = 1u << 0;
inline constexpr unsigned kSse2 = 1u << 1;
inline constexpr unsigned kSsse3 = 1u << 2;
inline constexpr unsigned kPclmul = 1u << 3;
inline constexpr unsigned kAvx2 = 1u << 4;
inline constexpr unsigned kAvx512bw = 1u << 5;

// The register state the system saves on a context switch (XCR0): bits 1 and
// 2 are the SSE and the AVX halves, bits 5 to 7 the mask registers and the
// 512-bit halves. Code using registers the system does not save would fault.
unsigned long long saved_state() {
    unsigned lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (static_cast<unsigned long long>(hi) << 32) | lo;
}

unsigned ask_cpu() {
    unsigned a = 0, b = 0, c = 0, d = 0, f = kKnown;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(d & bit_SSE2)) return f;
    f |= kSse2;
    if (!(c & bit_SSSE3)) return f;
    f |= kSsse3;
    if (c & bit_PCLMUL) f |= kPclmul;
    if (!(c & bit_OSXSAVE) || !(c & bit_AVX)) return f;
    const unsigned long long saved = saved_state();
    if ((saved & 6) != 6 || !__get_cpuid_count(7, 0, &a, &b, &c, &d) || !(b & bit_AVX2)) return f;
    f |= kAvx2;
    if ((saved & 0xE6) == 0xE6 && (b & bit_AVX512F) && (b & bit_AVX512BW)) f |= kAvx512bw;
    return f;
}

// Two threads asking at once compute the same word, so a relaxed atomic is
// enough; this is the module's only writable static and holds no state of
// any caller.
unsigned features_word = 0;

unsigned features() {
    unsigned f = __atomic_load_n(&features_word, __ATOMIC_RELAXED);
    if (!(f & kKnown)) {
        f = ask_cpu();
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

bool cpu_has_ssse3() { return (features() & kSsse3) != 0; }
bool cpu_has_pclmul() { return (features() & kPclmul) != 0; }
bool cpu_has_avx2() { return (features() & kAvx2) != 0; }
bool cpu_has_avx512bw() { return (features() & kAvx512bw) != 0; }

}  // namespace kq
