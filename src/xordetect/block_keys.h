// The sixteen-byte key phase: blocks that stand three times in a row are keys,
// and the first key whose decode holds a locatable header wins.
#pragma once

#include <stdint.h>

namespace kq::xordetect {

struct block_key_outcome {
    bool any_key = false;   // at least one key block was found
    bool located = false;   // some key's decode holds a header
    uint64_t winner = 0;    // offset of the first such key block
    uint64_t last = 0;      // offset of the last key block tried
};

// Searches all key blocks of src at once. Uses decoded[0 .. words_end) as
// scratch memory; the caller then decodes the whole buffer with the outcome's
// key, which overwrites all of it.
block_key_outcome find_block_key(const uint8_t *src, uint8_t *scratch, uint64_t size, uint64_t words_end);

}  // namespace kq::xordetect
