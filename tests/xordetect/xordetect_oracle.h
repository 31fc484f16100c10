// Literal model of the encoded-executable detector: the rules as written, decoding the rest of the buffer for every
// candidate (so quadratic on hostile input). The differential tests, the fuzzer and the benchmarks compare with it.
#pragma once

#include <stdint.h>
#include <string.h>

namespace xoracle {

inline uint32_t u16(const uint8_t *b, uint64_t o) { return uint32_t(b[o] | b[o + 1] << 8); }
inline uint32_t u32(const uint8_t *b, uint64_t o) { return u16(b, o) | u16(b, o + 2) << 16; }
// dec = src XOR the key word (or the sixteen-byte key block), word by word while a byte follows.
inline void xor_words(uint8_t *dec, const uint8_t *src, uint64_t n, uint32_t key, const uint8_t *block = nullptr) {
    for (uint64_t j = 0; j + 4 < n; j += 4) {
        const uint32_t v = u32(src, j) ^ (block ? u32(block, j % 16) : key);
        for (int t = 0; t < 4; t++) dec[j + t] = uint8_t(v >> 8 * t);
    }
}

inline int check_header(const uint8_t *b, uint32_t size) {
    if (!b || size < 512 || b[0] != 'M' || b[1] != 'Z') return 0;
    const uint32_t e = u32(b, 0x3C);
    return e != 0 && e <= size - 128 && u32(b, e) == 0x4550 && u16(b, e + 0x18) == 0x10B &&
           (u32(b, e + 0x48) == 4 || u32(b, e + 0x3C) == 0x200 || u32(b, e + 0x68) == 0x10000 || u32(b, e + 0x74) == 16);
}

inline int find_key(const uint8_t *src, uint8_t *dec, uint8_t *kb, uint32_t *kw) {
    if (!src || !dec || !kb || !kw) return 0;
    *kw = 0;
    const uint8_t k = *kb = src[0] ^ 'M';
    for (int j = 0; (src[1] ^ k) == 'Z' && j < 512; j++) dec[j] = src[j] ^ k;
    bool found = (src[1] ^ k) == 'Z' && check_header(dec, 512);
    auto decodes = [&](uint32_t key) { return xor_words(dec, src, 512, key), check_header(dec, 512) != 0; };
    if (!found) *kb = 0;
    for (uint32_t i = 0; i < 496 && !found; i += 4) {
        const uint32_t d = *kw = u32(src, i);
        if (d == 0) continue;
        if (u32(src, i + 4) == d && u32(src, i + 8) == d && u32(src, i + 12) == d) { found = decodes(d); continue; }
        if (i > 383) continue;
        const uint32_t kk = *kw = d ^ 0x4550;
        found = (u16(src, i + 0x18) ^ (kk & 0xFFFF)) == 0x10B &&
                ((u32(src, i + 0x48) ^ kk) == 4 || (u32(src, i + 0x3C) ^ kk) == 0x200 || (u32(src, i + 0x68) ^ kk) == 0x10000) &&
                decodes(kk);
    }
    if (found && *kb) *kw = *kb * 0x01010101u;
    return found;
}

// The field tests of the four-byte XOR phase's signature and Machine candidates.
inline bool xor_fields_ok(const uint8_t *src, uint64_t s, uint32_t k) {
    const uint32_t k16 = k & 0xFFFF, sub = u16(src, s + 0x5C) ^ k16, fa = u32(src, s + 0x3C) ^ k;
    return (u16(src, s + 0x18) ^ k16) == 0x10B &&
           (u32(src, s + 0x0C) == k || u32(src, s + 0x10) == k || (u32(src, s + 0x14) ^ k) == 0xE0 || (u32(src, s + 0x16) ^ k) == 0x10F) &&
           sub >= 1 && sub <= 3 && fa >= 16 && fa <= 4096 && fa % 16 == 0 &&
           ((u32(src, s + 0x48) ^ k) == 4 || fa == 0x200 || (u32(src, s + 0x68) ^ k) == 0x10000 || (u32(src, s + 0x6C) ^ k) == 0x1000);
}

inline int32_t scan_buffer(uint8_t *src, uint8_t *dec, uint8_t *kb, uint32_t *kw, uint32_t size) {
    if (!src || !dec || !kb || !kw || size < 512) return 0;
    const uint64_t n = size;
    int64_t pos = -1;
    auto header_at = [&](const uint8_t *b, uint64_t m) { return check_header(b + m, uint32_t(n - m)) != 0; };
    auto locate = [&]() -> int64_t { for (uint64_t m = 0; m < n - 510; m++) if (header_at(dec, m)) return int64_t(m); return -1; };
    auto found = [&]() -> int32_t { if (*kb) *kw = *kb * 0x01010101u; return pos <= int64_t(n - 512) ? int32_t(pos) : -1; };  // at pos
    auto detected = [&](bool zero_key) -> int32_t { return *kb = zero_key ? 0 : 0xFF, *kw = 1, -1; };
    // A DOS header before the signature at s whose e_lfanew points at it, else
    // the raw e_lfanew: gets its 'MZ' back, in dec and (encoded) in src.
    auto repair = [&](uint64_t s, uint32_t k) {
        uint64_t h = 0;
        while (h < s && h < n - 510 && !(u16(dec, h + 8) == 4 && u32(dec, h + 0x0C) == 0xFFFF && u16(dec, h + 0x18) == 0x40 &&
                                         u32(dec, h + 0x3C) == uint32_t(s - h)))
            h++;
        if ((h >= s || h >= n - 510) && (h = 0, s == 0 || u32(src, 0x3C) != uint32_t(s))) return false;
        dec[h] = 'M', dec[h + 1] = 'Z', src[h] = uint8_t(k) ^ 'M', src[h + 1] = uint8_t(k >> 8) ^ 'Z';
        return pos = int64_t(h), true;
    };

    *kb = 0, *kw = 0;
    for (uint64_t i = 0; i < n - 510; i++) {  // one-byte XOR key at any offset
        const uint8_t k = *kb = src[i] ^ 'M';
        if ((src[i + 1] ^ k) != 'Z' || src[i + 0x3E] != k || src[i + 0x3F] != k || (k == 0 && !header_at(src, i))) continue;
        for (uint64_t j = i; j < n; j++) dec[j] = src[j] ^ k;
        if (header_at(dec, i)) return pos = int64_t(i), found();
    }

    *kb = 0;
    bool rule_used = false;
    for (uint64_t i = 0; i < n - 16; i++) {  // four-byte XOR key at any offset
        const uint32_t d = *kw = u32(src, i);
        if (d == 0) continue;
        if (!rule_used && i % 4 == 0 && u32(src, i + 4) == d && u32(src, i + 8) == d && u32(src, i + 12) == d) {
            if (rule_used = true, xor_words(dec, src, n, d), (pos = locate()) >= 0) return found();
            continue;
        }
        if (i >= n - 128) continue;
        const uint32_t k = *kw = d ^ 0x4550;
        if (xor_fields_ok(src, i, k)) return xor_words(dec, src, n, k), (pos = locate()) >= 0 || repair(i, k) ? found() : detected(k == 0);
        const uint32_t k2 = *kw = u32(src, i + 2) ^ 0x014C0000u;
        if (xor_fields_ok(src, i, k2)) return detected(k2 == 0);
    }

    *kb = 0, *kw = 0;
    for (uint64_t i = 0; i + 48 < n; i += 16) {  // sixteen-byte XOR key, three times in a row
        if (u32(src, i) == 0 || memcmp(src + i, src + i + 16, 16) || memcmp(src + i, src + i + 32, 16)) continue;
        xor_words(dec, src, n, 0, src + i);
        if (locate() >= 0) return detected(false);
    }

    for (uint64_t i = 0; i < n - 510; i++) {  // one-byte additive key
        const uint8_t k = *kb = uint8_t(src[i] - 'M');
        if (k == 0 || uint8_t(src[i + 1] - 'Z') != k || src[i + 0x3E] != k || src[i + 0x3F] != k) continue;
        for (uint64_t j = i; j < n; j++) dec[j] = uint8_t(src[j] - k);
        if (header_at(dec, i)) return detected(false);
    }

    *kb = 0;
    for (uint64_t i = 0; i < n - 16; i++)  // widened header
        if (u32(src, i) == 0x00450050 && u32(src, i + 4) == 0 && u32(src, i + 8) == 0x0001004C) return detected(false);

    for (uint64_t i = 0; i < n - 128; i++) {  // four-byte additive key, twice, then the signature
        const uint32_t d = *kw = u32(src, i), d16 = d & 0xFFFF, s = uint32_t(i + 8);
        if (d == 0 || u32(src, i + 4) != d) continue;
        const uint32_t magic = (u16(src, s + 0x18) - d16) & 0xFFFF, sub = (u16(src, s + 0x5C) - d16) & 0xFFFF, fa = u32(src, s + 0x3C) - d;
        if ((magic == 0x10B || magic == 0x10C) &&
            (u32(src, s + 0x0C) == d || u32(src, s + 0x10) == d || ((u16(src, s + 0x14) - 0xE0) & 0xFFFF) == d16 ||
             ((u16(src, s + 0x16) - 0x10F) & 0xFFFF) == d16) &&
            sub >= 1 && sub <= 3 && fa >= 16 && fa <= 4096 && fa % 16 == 0 &&
            (u32(src, s + 0x48) - 4 == d || fa == 0x200 || u32(src, s + 0x68) - 0x10000 == d || u32(src, s + 0x6C) - 0x1000 == d))
            return detected(false);
    }

    *kb = 0, *kw = 0;
    return -1;
}

}  // namespace xoracle
