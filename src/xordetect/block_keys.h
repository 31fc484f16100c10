// The sixteen-byte key phase: blocks that stand three times in a row are keys,
// and the first key whose decode holds a locatable header wins.
#pragma once

#include <stdint.h>

#include "xordetect/lane_kernels.h"

namespace kq::xordetect {

// Up to this many distinct keys, one vector pass comparing every offset with
// each key (lane_kernels.h, find_mz16) is cheaper than joining all keys with
// all offsets residue by residue.
inline constexpr unsigned kFewBlockKeys = 32;

struct block_key_outcome {
    bool any_key = false;   // at least one key block was found
    bool located = false;   // some key's decode holds a header
    uint64_t winner = 0;    // offset of the first such key block
    uint64_t last = 0;      // offset of the last key block
    // When few distinct keys exist they are not searched here: few > 0 and
    // few_at holds the first block of each, in offset order.
    unsigned few = 0;
    uint32_t few_at[kFewBlockKeys] = {};
};

// Searches all key blocks of src at once. Uses scratch[0 .. words_end) as
// working memory; the caller then decodes the whole buffer with a key, which
// overwrites all of it.
block_key_outcome find_block_key(const lane_kernels &lanes, const uint8_t *src, uint8_t *scratch, uint64_t size,
                                 uint64_t words_end);

}  // namespace kq::xordetect
