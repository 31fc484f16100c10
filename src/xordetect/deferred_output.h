// The decoded buffer as the scanner leaves it. The scanner's decodes overwrite
// one another: a suffix decode [i, size) by a later one at a higher offset, any
// of them by a whole-buffer decode. Only the bytes that survive are written:
// a suffix decode stays pending until the next one shows how much of it lasts,
// so every byte of the decoded buffer is written a bounded number of times.
#pragma once

#include <stdint.h>

#include "common/bounds.h"

namespace kq::xordetect {

inline uint32_t get32(const uint8_t *b, uint64_t o) { return load_le32(b + o); }
inline uint32_t get16(const uint8_t *b, uint64_t o) { return load_le16(b + o); }
inline void put32(uint8_t *b, uint64_t o, uint32_t v) { store_le32(b + o, v); }

enum class suffix_kind { none, copy, xor_byte, sub_byte };

struct deferred_output {
    const uint8_t *src;
    uint8_t *dec;
    uint64_t size;
    // Whole-buffer decodes cover the words that start before size - 4.
    uint64_t whole_end;

    suffix_kind kind = suffix_kind::none;
    uint64_t start = 0;
    uint8_t key = 0;

    deferred_output(const uint8_t *s, uint8_t *d, uint64_t n) : src(s), dec(d), size(n), whole_end((n - 4 + 3) & ~uint64_t(3)) {}

    // A decode of [at, size) with this kind and key.
    void suffix(uint64_t at, suffix_kind k, uint8_t key_byte) {
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
        before_whole();
        for (uint64_t j = 0; j + 4 < size; j += 4) put32(dec, j, get32(src, j) ^ k);
    }

    void whole_xor_block(const uint8_t *block) {
        before_whole();
        const uint32_t k[4] = {get32(block, 0), get32(block, 4), get32(block, 8), get32(block, 12)};
        for (uint64_t j = 0; j + 4 < size; j += 4) put32(dec, j, get32(src, j) ^ k[(j >> 2) & 3]);
    }

    // The scan ends: the pending suffix decode lasts to the end.
    void flush() {
        if (kind == suffix_kind::none) return;
        write(start, size);
        kind = suffix_kind::none;
    }

private:
    void write(uint64_t from, uint64_t to) {
        switch (kind) {
        case suffix_kind::copy:
            for (uint64_t j = from; j < to; j++) dec[j] = src[j];
            break;
        case suffix_kind::xor_byte:
            for (uint64_t j = from; j < to; j++) dec[j] = uint8_t(src[j] ^ key);
            break;
        case suffix_kind::sub_byte:
            for (uint64_t j = from; j < to; j++) dec[j] = uint8_t(src[j] - key);
            break;
        case suffix_kind::none:
            break;
        }
    }
};

}  // namespace kq::xordetect
