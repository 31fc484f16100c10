// Slot 59: an MZ/PE32 header hidden anywhere in a buffer by one of six simple
// encodings, tried in a fixed order. Every offset is first filtered a machine
// word at a time; a candidate is judged by decoding only the bytes the header
// test reads, and the decoded buffer receives only the decodes that last
// (deferred_output), so the work stays linear in the buffer size.
#include "module/slots.h"
#include "xordetect/block_keys.h"
#include "xordetect/byte_lanes.h"
#include "xordetect/deferred_output.h"
#include "xordetect/header_test.h"

namespace {

using namespace kq::xordetect;

inline constexpr int64_t kNoPosition = -1;

struct scan {
    uint8_t *src;
    uint8_t *dec;
    uint8_t *key_byte;
    uint32_t *key_word;
    uint64_t size;
    uint64_t lim510, lim128, lim48, lim16;
    deferred_output out;

    scan(uint8_t *s, uint8_t *d, uint8_t *kb, uint32_t *kw, uint64_t n)
        : src(s), dec(d), key_byte(kb), key_word(kw), size(n), lim510(n - 510), lim128(n - 128), lim48(n - 48),
          lim16(n - 16), out(s, d, n) {}

    // A header is located at pos of the decoded buffer.
    int32_t finish(int64_t pos) {
        out.flush();
        if (*key_byte != 0) *key_word = uint32_t(*key_byte) * 0x01010101u;
        return pos <= int64_t(size - 512) ? int32_t(pos) : -1;
    }

    // An encoded executable is there but cannot be located or decoded.
    int32_t detected(bool zero_word_key) {
        out.flush();
        *key_byte = zero_word_key ? 0 : 0xFF;
        *key_word = 1;
        return -1;
    }

    // First offset of the (fully written) decoded buffer with a header.
    int64_t locate() const {
        const uint64_t end = lim510;
        const uint8_t *d = dec;
        int64_t found = kNoPosition;
        scan_offsets(
            0, end,
            [d](uint64_t i) { return equal_lanes(load_lanes(d + i), 'M') & equal_lanes(load_lanes(d + i + 1), 'Z'); },
            [d](uint64_t i) { return d[i] == 'M' && d[i + 1] == 'Z'; },
            [&](uint64_t m) {
                if (!header_ok(plain_view{d + m}, size - m)) return false;
                found = int64_t(m);
                return true;
            });
        return found;
    }

    bool one_byte_xor(int32_t *result);
    bool four_byte_xor(int32_t *result);
    bool block_xor(int32_t *result);
    bool one_byte_add(int32_t *result);
    bool widened(int32_t *result);
    bool four_byte_add(int32_t *result);
    bool word_candidate(uint64_t i, uint32_t k) const;
    bool stub_repair(uint64_t s, uint32_t k, int64_t *pos);
};

// Phase 1: candidates have 'M' 'Z' under k = byte XOR 0x4D, and the two high
// bytes of e_lfanew equal to k. Byte pairs XOR to 'M'^'Z' = 0x17 first.
bool scan::one_byte_xor(int32_t *result) {
    const uint8_t *s = src;
    auto candidate = [s](uint64_t i) {
        const uint8_t k = s[i] ^ 0x4D;
        return (s[i + 1] ^ k) == 0x5A && s[i + 0x3E] == k && s[i + 0x3F] == k;
    };
    bool hit = false;
    scan_offsets(
        0, lim510, [s](uint64_t i) { return equal_lanes(load_lanes(s + i) ^ load_lanes(s + i + 1), 0x17); },
        [s](uint64_t i) { return (s[i] ^ s[i + 1]) == 0x17; },
        [&](uint64_t i) {
            if (!candidate(i)) return false;
            const uint8_t k = s[i] ^ 0x4D;
            if (k == 0) {
                if (!header_ok(plain_view{s + i}, size - i)) return false;
                out.suffix(i, suffix_kind::copy, 0);
            } else {
                out.suffix(i, suffix_kind::xor_byte, k);
                if (!header_ok(xor_byte_view{s + i, k}, size - i)) return false;
            }
            *key_byte = k;
            *result = finish(int64_t(i));
            return hit = true;
        });
    return hit;
}

// The field tests of a four-byte XOR candidate with key k whose PE signature
// would stand at i.
bool scan::word_candidate(uint64_t i, uint32_t k) const {
    const uint8_t *s = src;
    const uint32_t kw = k & 0xFFFF;
    if ((get16(s, i + 0x18) ^ kw) != 0x10B) return false;
    if (!(get32(s, i + 0x0C) == k || get32(s, i + 0x10) == k || (get32(s, i + 0x14) ^ k) == 0xE0 ||
          (get32(s, i + 0x16) ^ k) == 0x10F))
        return false;
    const uint32_t subsystem = get16(s, i + 0x5C) ^ kw;
    if (subsystem < 1 || subsystem > 3) return false;
    const uint32_t fa = get32(s, i + 0x3C) ^ k;
    if (fa < 16 || fa > 4096 || fa % 16 != 0) return false;
    return (get32(s, i + 0x48) ^ k) == 4 || fa == 0x200 || (get32(s, i + 0x68) ^ k) == 0x10000 ||
           (get32(s, i + 0x6C) ^ k) == 0x1000;
}

// A DOS header whose MZ bytes were lost, pointing at the signature at s.
bool scan::stub_repair(uint64_t s, uint32_t k, int64_t *pos) {
    uint64_t at = UINT64_MAX;
    for (uint64_t h = 0; h < s && h < lim510; h++) {
        if (get16(dec, h + 8) == 4 && get32(dec, h + 0x0C) == 0x0000FFFF && get16(dec, h + 0x18) == 0x40 &&
            get32(dec, h + 0x3C) == uint32_t(s - h)) {
            at = h;
            break;
        }
    }
    if (at == UINT64_MAX) {
        if (s == 0 || get32(src, 0x3C) != uint32_t(s)) return false;
        at = 0;
    }
    dec[at] = 'M';
    dec[at + 1] = 'Z';
    src[at] = uint8_t(k) ^ 0x4D;
    src[at + 1] = uint8_t(k >> 8) ^ 0x5A;
    *pos = int64_t(at);
    return true;
}

// Phase 2. Offsets matter only where a run of four equal words first stands
// (the repeated-word rule, used once) or where Magic decodes to 0x10B under
// the signature key (u16 at i+0x18 XOR u16 at i = 0x10B ^ 0x4550) or the
// Machine key (u16 at i+0x18 XOR u16 at i+2 = 0x10B).
bool scan::four_byte_xor(int32_t *result) {
    const uint8_t *s = src;
    *key_byte = 0;
    uint64_t rule_at = UINT64_MAX;
    for (uint64_t i = 0; i < lim16; i += 4) {
        const uint32_t d = get32(s, i);
        if (d != 0 && get32(s, i + 4) == d && get32(s, i + 8) == d && get32(s, i + 12) == d) {
            rule_at = i;
            break;
        }
    }
    bool done = false;
    auto visit = [&](uint64_t i) {
        const uint32_t d = get32(s, i);
        if (d == 0) return false;
        if (i == rule_at) {
            out.whole_xor_word(d);
            const int64_t m = locate();
            if (m < 0) return false;
            *key_word = d;
            *result = finish(m);
            return done = true;
        }
        if (i >= lim128) return false;
        const uint32_t k = d ^ 0x4550;
        if (word_candidate(i, k)) {
            *key_word = k;
            out.whole_xor_word(k);
            int64_t m = locate();
            if (m >= 0 || stub_repair(i, k, &m)) *result = finish(m);
            else *result = detected(k == 0);
            return done = true;
        }
        const uint32_t k2 = get32(s, i + 2) ^ 0x014C0000u;
        if (word_candidate(i, k2)) {
            *result = detected(k2 == 0);
            return done = true;
        }
        return false;
    };
    auto lanes = [s, rule_at](uint64_t i) {
        const lane_word at18 = load_lanes(s + i + 0x18), at19 = load_lanes(s + i + 0x19);
        const lane_word sig = equal_lanes(at18 ^ load_lanes(s + i), 0x5B) & equal_lanes(at19 ^ load_lanes(s + i + 1), 0x44);
        const lane_word mach = equal_lanes(at18 ^ load_lanes(s + i + 2), 0x0B) & equal_lanes(at19 ^ load_lanes(s + i + 3), 0x01);
        lane_word m = sig | mach;
        if (rule_at - i < kLaneBytes) m |= lane_word(0x80) << (8 * (rule_at - i));
        return m;
    };
    auto one = [s, rule_at](uint64_t i) {
        return i == rule_at || (get16(s, i + 0x18) ^ get16(s, i)) == 0x445B || (get16(s, i + 0x18) ^ get16(s, i + 2)) == 0x10B;
    };
    scan_offsets(0, lim128, lanes, one, visit);
    if (!done && rule_at >= lim128 && rule_at < lim16) visit(rule_at);
    return done;
}

// Phase 3: sixteen-byte keys, all tested together (block_keys.cpp).
bool scan::block_xor(int32_t *result) {
    *key_byte = 0;
    *key_word = 0;
    // The key lists use the decoded words as scratch: a key exists, so the
    // whole decode below overwrites them (the tail bytes past the words are
    // left alone).
    const block_key_outcome found = find_block_key(src, dec, size, out.whole_end);
    if (!found.any_key) return false;
    out.whole_xor_block(src + (found.located ? found.winner : found.last));
    if (!found.located) return false;
    *result = detected(false);
    return true;
}

// Phase 4: like phase 1 with subtraction; byte pairs differ by 'Z'-'M' = 13.
bool scan::one_byte_add(int32_t *result) {
    const uint8_t *s = src;
    *key_byte = 0;
    *key_word = 0;
    bool hit = false;
    scan_offsets(
        0, lim510,
        [s](uint64_t i) { return zero_lanes(add_lanes(load_lanes(s + i), kLaneOnes * 0x0D) ^ load_lanes(s + i + 1)); },
        [s](uint64_t i) { return uint8_t(s[i + 1] - s[i]) == 0x0D; },
        [&](uint64_t i) {
            const uint8_t k = uint8_t(s[i] - 0x4D);
            if (k == 0 || s[i + 0x3E] != k || s[i + 0x3F] != k) return false;
            out.suffix(i, suffix_kind::sub_byte, k);
            if (!header_ok(sub_byte_view{s + i, k}, size - i)) return false;
            *result = detected(false);
            return hit = true;
        });
    return hit;
}

// Phase 5: the signature and Machine with every byte widened to 16 bits.
bool scan::widened(int32_t *result) {
    const uint8_t *s = src;
    *key_byte = 0;
    *key_word = 0;
    bool hit = false;
    scan_offsets(
        0, lim16,
        [s](uint64_t i) { return equal_lanes(load_lanes(s + i), 0x50) & equal_lanes(load_lanes(s + i + 2), 0x45); },
        [s](uint64_t i) { return s[i] == 0x50 && s[i + 2] == 0x45; },
        [&](uint64_t i) {
            if (get32(s, i) != 0x00450050 || get32(s, i + 4) != 0 || get32(s, i + 8) != 0x0001004C) return false;
            *result = detected(false);
            return hit = true;
        });
    return hit;
}

// Phase 6: eight zero bytes before the signature, each word plus key d.
bool scan::four_byte_add(int32_t *result) {
    const uint8_t *s = src;
    *key_byte = 0;
    *key_word = 0;
    bool hit = false;
    auto accepted = [s](uint64_t i) {
        const uint32_t d = get32(s, i);
        if (d == 0 || get32(s, i + 4) != d) return false;
        const uint64_t p = i + 8;
        const uint32_t kw = d & 0xFFFF;
        const uint32_t magic = (get16(s, p + 0x18) - kw) & 0xFFFF;
        if (magic != 0x10B && magic != 0x10C) return false;
        if (!(get32(s, p + 0x0C) == d || get32(s, p + 0x10) == d || ((get16(s, p + 0x14) - 0xE0) & 0xFFFF) == kw ||
              ((get16(s, p + 0x16) - 0x10F) & 0xFFFF) == kw))
            return false;
        const uint32_t subsystem = (get16(s, p + 0x5C) - kw) & 0xFFFF;
        if (subsystem < 1 || subsystem > 3) return false;
        const uint32_t fa = get32(s, p + 0x3C) - d;
        if (fa < 16 || fa > 4096 || fa % 16 != 0) return false;
        return get32(s, p + 0x48) - 4 == d || fa == 0x200 || get32(s, p + 0x68) - 0x10000 == d ||
               get32(s, p + 0x6C) - 0x1000 == d;
    };
    // Magic minus the key's low half is 0x10B or 0x10C: u16 at i+0x20 minus
    // u16 at i is one of the two. The low bytes differ by 0x0B or 0x0C.
    scan_offsets(
        0, lim128,
        [s](uint64_t i) {
            const lane_word lo = load_lanes(s + i), mg = load_lanes(s + i + 0x20);
            return zero_lanes(add_lanes(lo, kLaneOnes * 0x0B) ^ mg) | zero_lanes(add_lanes(lo, kLaneOnes * 0x0C) ^ mg);
        },
        [s](uint64_t i) {
            const uint8_t diff = uint8_t(s[i + 0x20] - s[i]);
            return diff == 0x0B || diff == 0x0C;
        },
        [&](uint64_t i) {
            if (!accepted(i)) return false;
            *result = detected(false);
            return hit = true;
        });
    return hit;
}

}  // namespace

extern "C" int32_t xordetect_scan_buffer(uint8_t *source, uint8_t *decoded, uint8_t *key_byte, uint32_t *key_word,
                                         uint32_t size) {
    if (!source || !decoded || !key_byte || !key_word || size < 512) return 0;
    *key_byte = 0;
    *key_word = 0;
    scan s(source, decoded, key_byte, key_word, size);
    int32_t result = -1;
    if (s.one_byte_xor(&result) || s.four_byte_xor(&result) || s.block_xor(&result) || s.one_byte_add(&result) ||
        s.widened(&result) || s.four_byte_add(&result))
        return result;
    s.out.flush();
    *key_byte = 0;
    *key_word = 0;
    return -1;
}
