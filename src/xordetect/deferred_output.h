// The decoded buffer as the scanner leaves it. The scanner's decodes overwrite
// one another: a suffix decode [i, size) by a later one at a higher offset, any
// of them by a whole-buffer decode. Only the bytes that survive are written:
// a decode stays pending until the next one shows how much of it lasts (a
// whole-buffer decode is overwritten entirely by the next whole-buffer one),
// so every byte of the decoded buffer is written a bounded number of times.
// While a decode is pending the scanner judges candidates through views.
#pragma once

#include <stdint.h>
#include <string.h>

#include "xordetect/lane_kernels.h"

#include "common/bounds.h"

namespace kq::xordetect {

inline uint32_t get32(const uint8_t *b, uint64_t o) { return load_le32(b + o); }
inline uint32_t get16(const uint8_t *b, uint64_t o) { return load_le16(b + o); }
inline void put32(uint8_t *b, uint64_t o, uint32_t v) { store_le32(b + o, v); }

enum class suffix_kind { none, copy, xor_byte, sub_byte };

struct deferred_output {
    const lane_kernels &lanes;
    const uint8_t *src;
    uint8_t *dec;
    uint64_t size;
    // Whole-buffer decodes cover the words that start before size - 4.
    uint64_t whole_end;

    suffix_kind kind = suffix_kind::none;
    uint64_t start = 0;
    uint8_t key = 0;
    // A whole-buffer decode with this sixteen-byte key, not yet written.
    bool whole = false;
    uint8_t whole_key[16] = {};

    deferred_output(const lane_kernels &l, const uint8_t *s, uint8_t *d, uint64_t n)
        : lanes(l), src(s), dec(d), size(n), whole_end((n - 4 + 3) & ~uint64_t(3)) {}

    // A decode of [at, size) with this kind and key.
    void suffix(uint64_t at, suffix_kind k, uint8_t key_byte) {
        write_whole(at);  // whole-buffer decodes come before suffix ones
        // The same decode from a later offset changes nothing before it.
        if (kind == k && key == key_byte && at > start) return;
        if (kind != suffix_kind::none && at > start) write(start, at);
        kind = k;
        start = at;
        key = key_byte;
    }

    // A whole-buffer decode follows: of the pending suffix only the bytes past
    // the whole decode's end survive.
    void before_whole() {
        if (kind == suffix_kind::none) return;
        write(start > whole_end ? start : whole_end, size);
        kind = suffix_kind::none;
    }

    void whole_xor_word(uint32_t k) {
        uint8_t key[16];
        for (unsigned t = 0; t < 16; t++) key[t] = uint8_t(k >> (8 * (t & 3)));
        whole_xor_block(key);
    }

    void whole_xor_block(const uint8_t *key) {
        before_whole();
        memcpy(whole_key, key, sizeof whole_key);
        whole = true;
    }

    // Writes the pending whole-buffer decode, below `to` only when a suffix
    // decode from `to` follows.
    void write_whole(uint64_t to = UINT64_MAX) {
        if (!whole) return;
        lanes.xor16(dec, src, 0, to < whole_end ? to : whole_end, whole_key);
        whole = false;
    }

    // The scan ends: the pending decodes last to the end.
    void flush() {
        write_whole();
        if (kind == suffix_kind::none) return;
        write(start, size);
        kind = suffix_kind::none;
    }

private:
    void write(uint64_t from, uint64_t to) {
        if (from >= to) return;
        switch (kind) {
        case suffix_kind::copy:
            memcpy(dec + from, src + from, to - from);
            break;
        case suffix_kind::xor_byte: {
            uint8_t k[16];
            memset(k, key, sizeof k);
            lanes.xor16(dec, src, from, to, k);
            break;
        }
        case suffix_kind::sub_byte:
            lanes.sub1(dec, src, from, to, key);
            break;
        case suffix_kind::none:
            break;
        }
    }
};

}  // namespace kq::xordetect
