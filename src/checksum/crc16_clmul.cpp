// CRC-16 by folding 128-bit lanes with carry-less multiplication. The
// augmented register is the remainder of the message read as one polynomial
// (first bit highest) with the start register in front of it, so any part may
// be replaced by something congruent mod P: a lane L that lies D bits before
// the lane it is folded into becomes L_hi * (x^(D+64) mod P) + L_lo *
// (x^D mod P), at most 80 bits, XORed into that lane. The bytes are reversed
// on loading so that bit 127 of a lane is the first bit of its first byte.
#include <immintrin.h>

#include "checksum/crc_kernels.h"
#include "checksum/crc_tables.h"
#include "module/cpu_features.h"

namespace kq {
namespace {

// x^n mod P, P = x^16 + x^12 + x^5 + 1.
constexpr uint64_t xpow_mod(uint32_t n) {
    uint32_t r = 1;
    for (uint32_t i = 0; i < n; i++) r = (r & 0x8000) ? ((r << 1) ^ kCrc16Poly) & 0xFFFF : r << 1;
    return r;
}
static_assert(xpow_mod(16) == kCrc16Poly && xpow_mod(72) == kCrc16Tables.slice[7][1], "x^n mod P");

#define KQ_CLMUL __attribute__((target("pclmul,ssse3")))

KQ_CLMUL inline __m128i fold(__m128i lane, __m128i k, __m128i next) {
    __m128i lo = _mm_clmulepi64_si128(lane, k, 0x00);
    __m128i hi = _mm_clmulepi64_si128(lane, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

// Folding distance D: the high half takes x^(D+64), the low half x^D.
inline constexpr uint64_t k512_hi = xpow_mod(512 + 64), k512_lo = xpow_mod(512);
inline constexpr uint64_t k128_hi = xpow_mod(128 + 64), k128_lo = xpow_mod(128);

KQ_CLMUL inline __m128i load(const uint8_t *p, __m128i reverse) {
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)), reverse);
}

}  // namespace

bool crc16_clmul_available() { return cpu_has_pclmul(); }

KQ_CLMUL uint32_t crc16_clmul(uint32_t crc, const uint8_t *data, uint64_t length) {
    if (length < 64) return crc16_sliced(crc, data, length);
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    // The start register sits 128 bits before the end of the first lane:
    // reduced, it is added to that lane's last 16 bits.
    static const uint8_t zeros[16] = {};
    const uint32_t start = crc16_sliced(crc, zeros, 16);
    __m128i a = _mm_xor_si128(load(data, reverse), _mm_cvtsi32_si128(static_cast<int>(start)));
    __m128i b = load(data + 16, reverse), c = load(data + 32, reverse), d = load(data + 48, reverse);
    data += 64;
    length -= 64;
    const __m128i k512 = _mm_set_epi64x(static_cast<long long>(k512_hi), static_cast<long long>(k512_lo));
    for (; length >= 64; data += 64, length -= 64) {
        a = fold(a, k512, load(data, reverse));
        b = fold(b, k512, load(data + 16, reverse));
        c = fold(c, k512, load(data + 32, reverse));
        d = fold(d, k512, load(data + 48, reverse));
    }
    const __m128i k128 = _mm_set_epi64x(static_cast<long long>(k128_hi), static_cast<long long>(k128_lo));
    a = fold(a, k128, b);
    a = fold(a, k128, c);
    a = fold(a, k128, d);
    for (; length >= 16; data += 16, length -= 16) a = fold(a, k128, load(data, reverse));

    // The lane back in message order is a 16-byte message of its own.
    alignas(16) uint8_t last[16];
    _mm_store_si128(reinterpret_cast<__m128i *>(last), _mm_shuffle_epi8(a, reverse));
    return crc16_sliced(crc16_sliced(0, last, 16), data, length);
}

}  // namespace kq
