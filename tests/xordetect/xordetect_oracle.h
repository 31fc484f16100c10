// Reference model of the XOR-encoded executable detector: a deliberately
// naive, step-by-step rendering of the detection rules. It decodes the rest of
// the buffer for every candidate, exactly as the rules are written, and is
// therefore quadratic on hostile input. The module's scanner must produce the
// same outputs (result, key byte, key word, every byte of the decoded buffer
// and of the source buffer); the differential tests, the fuzzer and the
// benchmarks compare against this model.
#pragma once

#include <stdint.h>

namespace xoracle {

inline uint32_t u16(const uint8_t *b, uint64_t o) { return uint32_t(b[o]) | (uint32_t(b[o + 1]) << 8); }
inline uint32_t u32(const uint8_t *b, uint64_t o) {
    return uint32_t(b[o]) | (uint32_t(b[o + 1]) << 8) | (uint32_t(b[o + 2]) << 16) | (uint32_t(b[o + 3]) << 24);
}
inline void put32(uint8_t *b, uint64_t o, uint32_t v) {
    for (int t = 0; t < 4; t++) b[o + t] = uint8_t(v >> (8 * t));
}

inline int check_header(const uint8_t *buf, uint32_t size) {
    if (!buf || size < 512) return 0;
    if (buf[0] != 0x4D || buf[1] != 0x5A) return 0;
    uint32_t e = u32(buf, 0x3C);
    if (e == 0 || e > size - 128) return 0;
    if (buf[e] != 'P' || buf[e + 1] != 'E' || buf[e + 2] != 0 || buf[e + 3] != 0) return 0;
    if (u16(buf, e + 0x18) != 0x10B) return 0;
    if (u32(buf, e + 0x48) == 4 || u32(buf, e + 0x3C) == 0x200 || u32(buf, e + 0x68) == 0x10000 ||
        u32(buf, e + 0x74) == 16)
        return 1;
    return 0;
}

inline int find_key(const uint8_t *src, uint8_t *dec, uint8_t *kb, uint32_t *kw) {
    if (!src || !dec || !kb || !kw) return 0;
    *kw = 0;
    bool found = false;
    uint8_t k = src[0] ^ 0x4D;
    *kb = k;
    if ((src[1] ^ k) == 0x5A) {
        for (int j = 0; j < 512; j++) dec[j] = src[j] ^ k;
        found = check_header(dec, 512) == 1;
    }
    auto decodes = [&](uint32_t key) {
        for (uint32_t j = 0; j <= 504; j += 4) put32(dec, j, u32(src, j) ^ key);
        return check_header(dec, 512) != 0;
    };
    if (!found) {
        *kb = 0;
        for (uint32_t i = 0; i < 496 && !found; i += 4) {
            uint32_t d = u32(src, i);
            *kw = d;
            if (d == 0) continue;
            if (u32(src, i + 4) == d && u32(src, i + 8) == d && u32(src, i + 12) == d) {
                found = decodes(d);
                continue;
            }
            if (i <= 383) {
                uint32_t kk = d ^ 0x4550;
                *kw = kk;
                bool magic = (u16(src, i + 0x18) ^ (kk & 0xFFFF)) == 0x10B;
                bool field = (u32(src, i + 0x48) ^ kk) == 4 || (u32(src, i + 0x3C) ^ kk) == 0x200 ||
                             (u32(src, i + 0x68) ^ kk) == 0x10000;
                found = magic && field && decodes(kk);
            }
        }
    }
    if (!found) return 0;
    if (*kb != 0) *kw = uint32_t(*kb) * 0x01010101u;
    return 1;
}

// The field tests shared by the signature and Machine candidates of the
// four-byte XOR phase.
inline bool xor_fields_ok(const uint8_t *src, uint64_t s, uint32_t k) {
    uint32_t kw = k & 0xFFFF;
    if ((u16(src, s + 0x18) ^ kw) != 0x10B) return false;
    if (!(u32(src, s + 0x0C) == k || u32(src, s + 0x10) == k || (u32(src, s + 0x14) ^ k) == 0xE0 ||
          (u32(src, s + 0x16) ^ k) == 0x10F))
        return false;
    uint32_t sub = u16(src, s + 0x5C) ^ kw;
    if (sub < 1 || sub > 3) return false;
    uint32_t fa = u32(src, s + 0x3C) ^ k;
    if (fa < 16 || fa > 4096 || fa % 16 != 0) return false;
    return (u32(src, s + 0x48) ^ k) == 4 || fa == 0x200 || (u32(src, s + 0x68) ^ k) == 0x10000 ||
           (u32(src, s + 0x6C) ^ k) == 0x1000;
}

inline int32_t scan_buffer(uint8_t *src, uint8_t *dec, uint8_t *kb, uint32_t *kw, uint32_t size) {
    if (!src || !dec || !kb || !kw || size < 512) return 0;
    *kb = 0, *kw = 0;
    const uint64_t n = size;
    const uint64_t L510 = n - 510, L128 = n - 128, L48 = n - 48, L16 = n - 16;
    int64_t pos = -1;

    auto locate = [&]() -> int64_t {
        for (uint64_t m = 0; m < L510; m++)
            if (dec[m] == 'M' && dec[m + 1] == 'Z' && check_header(dec + m, uint32_t(n - m))) return int64_t(m);
        return -1;
    };
    auto decode_words = [&](uint32_t key) {
        for (uint64_t j = 0; j + 4 < n; j += 4) put32(dec, j, u32(src, j) ^ key);
    };
    auto detected = [&](bool phase2_zero_key) -> int32_t {
        *kb = phase2_zero_key ? 0 : 0xFF;
        *kw = 1;
        return -1;
    };
    auto finish = [&]() -> int32_t {
        if (*kb != 0) *kw = uint32_t(*kb) * 0x01010101u;
        return pos <= int64_t(n - 512) ? int32_t(pos) : -1;
    };
    auto stub_repair = [&](uint64_t s, uint32_t k) -> bool {
        auto repair_at = [&](uint64_t h) {
            dec[h] = 'M', dec[h + 1] = 'Z';
            src[h] = uint8_t(k) ^ 0x4D, src[h + 1] = uint8_t(k >> 8) ^ 0x5A;
            pos = int64_t(h);
            return true;
        };
        for (uint64_t h = 0; h < s && h < L510; h++)
            if (u16(dec, h + 8) == 4 && u32(dec, h + 0x0C) == 0x0000FFFF && u16(dec, h + 0x18) == 0x40 &&
                u32(dec, h + 0x3C) == uint32_t(s - h))
                return repair_at(h);
        return s != 0 && u32(src, 0x3C) == uint32_t(s) && repair_at(0);
    };

    // Phase 1: one-byte XOR key at any offset.
    for (uint64_t i = 0; i < L510; i++) {
        uint8_t k = src[i] ^ 0x4D;
        *kb = k;
        if ((src[i + 1] ^ k) != 0x5A || src[i + 0x3E] != k || src[i + 0x3F] != k) continue;
        if (k == 0) {
            if (check_header(src + i, uint32_t(n - i))) {
                for (uint64_t j = i; j < n; j++) dec[j] = src[j];
                return pos = int64_t(i), finish();
            }
        } else {
            for (uint64_t j = i; j < n; j++) dec[j] = src[j] ^ k;
            if (check_header(dec + i, uint32_t(n - i))) return pos = int64_t(i), finish();
        }
    }

    // Phase 2: four-byte XOR key at any offset.
    *kb = 0;
    bool rule_used = false;
    for (uint64_t i = 0; i < L16; i++) {
        uint32_t d = u32(src, i);
        *kw = d;
        if (d == 0) continue;
        if (!rule_used && i % 4 == 0 && u32(src, i + 4) == d && u32(src, i + 8) == d && u32(src, i + 12) == d) {
            rule_used = true;
            decode_words(d);
            if ((pos = locate()) >= 0) return finish();
            continue;
        }
        if (i >= L128) continue;
        uint32_t k = d ^ 0x4550;
        *kw = k;
        if (xor_fields_ok(src, i, k)) {
            decode_words(k);
            if ((pos = locate()) >= 0) return finish();
            if (stub_repair(i, k)) return finish();
            return detected(k == 0);
        }
        uint32_t k2 = u32(src, i + 2) ^ 0x014C0000u;
        *kw = k2;
        if (xor_fields_ok(src, i, k2)) return detected(k2 == 0);
    }

    // Phase 3: sixteen-byte XOR key.
    *kb = 0, *kw = 0;
    for (uint64_t i = 0; i < L48; i += 16) {
        uint32_t first = u32(src, i);
        if (first == 0 || first != u32(src, i + 16) || first != u32(src, i + 32)) continue;
        bool same = true;
        for (int t = 0; t < 16; t++)
            if (src[i + t] != src[i + 16 + t] || src[i + t] != src[i + 32 + t]) same = false;
        if (!same) continue;
        for (uint64_t j = 0; j + 4 < n; j += 4) put32(dec, j, u32(src, j) ^ u32(src, i + (j % 16)));
        if (locate() >= 0) return detected(false);
    }

    // Phase 4: one-byte additive key.
    *kb = 0, *kw = 0;
    for (uint64_t i = 0; i < L510; i++) {
        uint8_t k = uint8_t(src[i] - 0x4D);
        *kb = k;
        if (uint8_t(src[i + 1] - 0x5A) != k || src[i + 0x3E] != k || src[i + 0x3F] != k || k == 0) continue;
        for (uint64_t j = i; j < n; j++) dec[j] = uint8_t(src[j] - k);
        if (check_header(dec + i, uint32_t(n - i))) return detected(false);
    }

    // Phase 5: widened header.
    *kb = 0, *kw = 0;
    for (uint64_t i = 0; i < L16; i++)
        if (u32(src, i) == 0x00450050 && u32(src, i + 4) == 0 && u32(src, i + 8) == 0x0001004C)
            return detected(false);

    // Phase 6: four-byte additive key.
    *kb = 0, *kw = 0;
    for (uint64_t i = 0; i < L128; i++) {
        uint32_t d = u32(src, i);
        *kw = d;
        if (d == 0 || u32(src, i + 4) != d) continue;
        uint64_t s = i + 8;
        uint32_t kw16 = d & 0xFFFF;
        uint32_t magic = (u16(src, s + 0x18) - kw16) & 0xFFFF;
        if (magic != 0x10B && magic != 0x10C) continue;
        if (!(u32(src, s + 0x0C) == d || u32(src, s + 0x10) == d || ((u16(src, s + 0x14) - 0xE0) & 0xFFFF) == kw16 ||
              ((u16(src, s + 0x16) - 0x10F) & 0xFFFF) == kw16))
            continue;
        uint32_t sub = (u16(src, s + 0x5C) - kw16) & 0xFFFF;
        if (sub < 1 || sub > 3) continue;
        uint32_t fa = u32(src, s + 0x3C) - d;
        if (fa < 16 || fa > 4096 || fa % 16 != 0) continue;
        if (u32(src, s + 0x48) - 4 == d || fa == 0x200 || u32(src, s + 0x68) - 0x10000 == d ||
            u32(src, s + 0x6C) - 0x1000 == d)
            return detected(false);
    }

    *kb = 0, *kw = 0;
    return -1;
}

}  // namespace xoracle
