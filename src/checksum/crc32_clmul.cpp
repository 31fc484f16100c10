// CRC-32 by folding 128-bit lanes with carry-less multiplication. A lane L
// that lies D bits before the lane it is folded into is replaced by
// L * x^D mod P, which keeps the message's residue: the CRC of the folded
// bytes equals the CRC of the original ones. The last lane is finished with
// the byte tables, which saves the Barrett reduction.
#include <immintrin.h>

#include "checksum/crc_kernels.h"
#include "checksum/crc_tables.h"
#include "module/cpu_features.h"

namespace kq {
namespace {

// x^n mod P in the reflected representation (bit 31 is x^0).
constexpr uint32_t xpow_mod(uint32_t n) {
    uint32_t r = 0x80000000u;
    for (uint32_t i = 0; i < n; i++) r = (r & 1) ? (r >> 1) ^ kCrc32Poly : r >> 1;
    return r;
}
// A reflected 64-bit half multiplied by a reflected 33-bit constant comes out
// one bit short; the constants carry that bit.
constexpr uint64_t fold_constant(uint32_t n) { return static_cast<uint64_t>(xpow_mod(n)) << 1; }

// Folding distance D: the low half (the earlier bytes) takes x^(D+32), the
// high half x^(D-32).
inline constexpr uint64_t k512Lo = fold_constant(512 + 32), k512Hi = fold_constant(512 - 32);
inline constexpr uint64_t k128Lo = fold_constant(128 + 32), k128Hi = fold_constant(128 - 32);
static_assert(k512Lo == 0x154442BD4ull && k512Hi == 0x1C6E41596ull, "fold-by-four constants");
static_assert(k128Lo == 0x1751997D0ull && k128Hi == 0x0CCAA009Eull, "fold-by-one constants");

#define KQ_CLMUL __attribute__((target("pclmul,sse2")))

KQ_CLMUL inline __m128i fold(__m128i lane, __m128i k, __m128i next) {
    __m128i lo = _mm_clmulepi64_si128(lane, k, 0x00);
    __m128i hi = _mm_clmulepi64_si128(lane, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

KQ_CLMUL inline __m128i load(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }

}  // namespace

bool crc32_clmul_available() { return cpu_has_pclmul(); }

KQ_CLMUL uint32_t crc32_clmul(uint32_t crc, const uint8_t *data, uint64_t length) {
    if (length < 64) return crc32_sliced(crc, data, length);
    // The start value enters as the first four message bytes XORed with it.
    __m128i a = _mm_xor_si128(load(data), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i b = load(data + 16), c = load(data + 32), d = load(data + 48);
    data += 64;
    length -= 64;
    const __m128i k512 = _mm_set_epi64x(static_cast<long long>(k512Hi), static_cast<long long>(k512Lo));
    for (; length >= 64; data += 64, length -= 64) {
        a = fold(a, k512, load(data));
        b = fold(b, k512, load(data + 16));
        c = fold(c, k512, load(data + 32));
        d = fold(d, k512, load(data + 48));
    }
    const __m128i k128 = _mm_set_epi64x(static_cast<long long>(k128Hi), static_cast<long long>(k128Lo));
    a = fold(a, k128, b);
    a = fold(a, k128, c);
    a = fold(a, k128, d);
    for (; length >= 16; data += 16, length -= 16) a = fold(a, k128, load(data));

    alignas(16) uint8_t last[16];
    _mm_store_si128(reinterpret_cast<__m128i *>(last), a);
    return crc32_sliced(crc32_sliced(0, last, 16), data, length);
}

}  // namespace kq
