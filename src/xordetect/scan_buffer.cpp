// Slot 59: an MZ/PE32 header hidden anywhere in a buffer by one of six simple
// encodings, tried in a fixed order. Every offset is first filtered many at a
// time (lane_kernels.h); a candidate is judged by decoding only the bytes the
// header test reads, and the decoded buffer receives only the decodes that
// last (deferred_output), so the work stays linear in the buffer size.
#include "xordetect/scan_buffer.h"

#include "module/slots.h"
#include "xordetect/block_keys.h"
#include "xordetect/deferred_output.h"
#include "xordetect/header_test.h"

namespace {

using namespace kq::xordetect;

inline constexpr int64_t kNoPosition = -1;

struct scan {
    const lane_kernels &lanes;
    uint8_t *src;
    uint8_t *dec;
    uint8_t *key_byte;
    uint32_t *key_word;
    uint64_t size;
    uint64_t lim510, lim128, lim48, lim16;
    deferred_output out;

    scan(const lane_kernels &l, uint8_t *s, uint8_t *d, uint8_t *kb, uint32_t *kw, uint64_t n)
        : lanes(l), src(s), dec(d), key_byte(kb), key_word(kw), size(n), lim510(n - 510), lim128(n - 128),
          lim48(n - 48), lim16(n - 16), out(l, s, d, n) {}

    // Calls visit(i) for each offset in [from, to) that passes the filter, in
    // order, until visit returns true.
    template <class Visit> bool each(filter f, const uint8_t *buf, uint64_t from, uint64_t to, Visit visit) const {
        uint32_t hits;
        for (uint64_t at = lanes.find(f, buf, from, to, &hits); at < to; at = lanes.find(f, buf, at + 32, to, &hits))
            for (; hits; hits &= hits - 1)
                if (visit(at + unsigned(__builtin_ctz(hits)))) return true;
        return false;
    }

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

    // First offset with a header in the pending whole-buffer decode, judged
    // through a view (every byte the test reads lies below whole_end).
    int64_t locate() const {
        const mz16_pattern key(out.whole_key);
        uint32_t hits;
        for (uint64_t at = lanes.find_mz16(src, 0, lim510, &key, 1, &hits); at < lim510;
             at = lanes.find_mz16(src, at + 32, lim510, &key, 1, &hits))
            for (; hits; hits &= hits - 1) {
                const uint64_t m = at + unsigned(__builtin_ctz(hits));
                if (header_ok(xor_block_view{src, m, out.whole_key}, size - m)) return int64_t(m);
            }
        return kNoPosition;
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
// bytes of e_lfanew equal to k: exactly what the xor1 filter passes.
bool scan::one_byte_xor(int32_t *result) {
    return each(filter::xor1, src, 0, lim510, [&](uint64_t i) {
        const uint8_t k = src[i] ^ 0x4D;
        if (k == 0) {
            if (!header_ok(plain_view{src + i}, size - i)) return false;
            out.suffix(i, suffix_kind::copy, 0);
        } else {
            out.suffix(i, suffix_kind::xor_byte, k);
            if (!header_ok(xor_byte_view{src + i, k}, size - i)) return false;
        }
        *key_byte = k;
        *result = finish(int64_t(i));
        return true;
    });
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
    out.write_whole();
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
// (the repeated-word rule, used once, and then no other test at that offset)
// or where the signature or Machine key passes the xor4 filter.
bool scan::four_byte_xor(int32_t *result) {
    const uint8_t *s = src;
    *key_byte = 0;
    uint64_t rule_at = lim16;
    each(filter::rule, s, 0, lim16, [&](uint64_t i) {
        rule_at = i;
        return true;
    });
    auto candidate = [&](uint64_t i) {
        const uint32_t d = get32(s, i);
        if (d == 0) return false;
        const uint32_t k = d ^ 0x4550;
        if (word_candidate(i, k)) {
            *key_word = k;
            out.whole_xor_word(k);
            int64_t m = locate();
            if (m >= 0 || stub_repair(i, k, &m)) *result = finish(m);
            else *result = detected(k == 0);
            return true;
        }
        const uint32_t k2 = get32(s, i + 2) ^ 0x014C0000u;
        if (word_candidate(i, k2)) {
            *result = detected(k2 == 0);
            return true;
        }
        return false;
    };
    // Offsets before the rule's, the rule's own, then the rest.
    if (each(filter::xor4, s, 0, rule_at < lim128 ? rule_at : lim128, candidate)) return true;
    if (rule_at < lim16) {
        out.whole_xor_word(get32(s, rule_at));
        const int64_t m = locate();
        if (m >= 0) {
            *key_word = get32(s, rule_at);
            *result = finish(m);
            return true;
        }
        if (rule_at + 1 < lim128 && each(filter::xor4, s, rule_at + 1, lim128, candidate)) return true;
    }
    return false;
}

// Phase 3: sixteen-byte keys, all tested together (block_keys.cpp).
bool scan::block_xor(int32_t *result) {
    *key_byte = 0;
    *key_word = 0;
    // The key lists use the decoded words as scratch: a key exists, so the
    // whole decode below overwrites them (the tail bytes past the words are
    // left alone).
    const block_key_outcome found = find_block_key(lanes, src, dec, size, out.whole_end);
    if (!found.any_key) return false;
    bool located = found.located;
    uint64_t key_at = found.located ? found.winner : found.last;
    if (found.few) {
        // One pass for all keys; a header under key j leaves only the keys
        // before it in the search.
        mz16_pattern keys[kFewBlockKeys];
        for (unsigned j = 0; j < found.few; j++) keys[j] = mz16_pattern(src + found.few_at[j]);
        unsigned best = found.few;
        uint32_t hits;
        for (uint64_t at = lanes.find_mz16(src, 0, lim510, keys, best, &hits); at < lim510;
             at = lanes.find_mz16(src, at + 32, lim510, keys, best, &hits)) {
            for (; hits; hits &= hits - 1) {
                const uint64_t m = at + unsigned(__builtin_ctz(hits));
                for (unsigned j = 0; j < best; j++)
                    if (keys[j].at(src, m) && header_ok(xor_block_view{src, m, src + found.few_at[j]}, size - m)) {
                        best = j;
                        break;
                    }
            }
            if (best == 0) break;
        }
        if (best < found.few) {
            located = true;
            key_at = found.few_at[best];
        }
    }
    // The decode the literal search leaves: the winner's, or the last key block's.
    out.whole_xor_block(src + key_at);
    if (!located) return false;
    *result = detected(false);
    return true;
}

// Phase 4: like phase 1 with subtraction.
bool scan::one_byte_add(int32_t *result) {
    *key_byte = 0;
    *key_word = 0;
    return each(filter::add1, src, 0, lim510, [&](uint64_t i) {
        const uint8_t k = uint8_t(src[i] - 0x4D);
        if (k == 0) return false;
        out.suffix(i, suffix_kind::sub_byte, k);
        if (!header_ok(sub_byte_view{src + i, k}, size - i)) return false;
        *result = detected(false);
        return true;
    });
}

// Phase 5: the signature and Machine with every byte widened to 16 bits.
bool scan::widened(int32_t *result) {
    *key_byte = 0;
    *key_word = 0;
    return each(filter::widened, src, 0, lim16, [&](uint64_t i) {
        if (get32(src, i) != 0x00450050 || get32(src, i + 4) != 0 || get32(src, i + 8) != 0x0001004C) return false;
        *result = detected(false);
        return true;
    });
}

// Phase 6: eight zero bytes before the signature, each word plus key d.
bool scan::four_byte_add(int32_t *result) {
    const uint8_t *s = src;
    *key_byte = 0;
    *key_word = 0;
    return each(filter::add4, s, 0, lim128, [&](uint64_t i) {
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
        if (!(get32(s, p + 0x48) - 4 == d || fa == 0x200 || get32(s, p + 0x68) - 0x10000 == d ||
              get32(s, p + 0x6C) - 0x1000 == d))
            return false;
        *result = detected(false);
        return true;
    });
}

}  // namespace

namespace kq::xordetect {

int32_t scan_buffer(const lane_kernels &lanes, uint8_t *source, uint8_t *decoded, uint8_t *key_byte,
                    uint32_t *key_word, uint32_t size) {
    if (!source || !decoded || !key_byte || !key_word || size < 512) return 0;
    *key_byte = 0;
    *key_word = 0;
    scan s(lanes, source, decoded, key_byte, key_word, size);
    int32_t result = -1;
    if (s.one_byte_xor(&result) || s.four_byte_xor(&result) || s.block_xor(&result) || s.one_byte_add(&result) ||
        s.widened(&result) || s.four_byte_add(&result))
        return result;
    s.out.flush();
    *key_byte = 0;
    *key_word = 0;
    return -1;
}

}  // namespace kq::xordetect

extern "C" int32_t xordetect_scan_buffer(uint8_t *source, uint8_t *decoded, uint8_t *key_byte, uint32_t *key_word,
                                         uint32_t size) {
    using namespace kq::xordetect;
    return scan_buffer(best_lane_kernels(), source, decoded, key_byte, key_word, size);
}
