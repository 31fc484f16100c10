// Slots 45 and 71: plain data against a wildcard pattern, stored scrambled
// (every byte XOR 0x71, length and wildcard bytes too) or plain.
//
// Pattern layout: length L, wildcard byte W, then L pattern bytes. A pattern
// byte equal to W matches any data byte.
#include "module/slots.h"
#include "names/scramble_keys.h"

namespace {

template <uint8_t key> int32_t match_pattern(const uint8_t *data, const uint8_t *pattern) {
    const uint32_t length = static_cast<uint8_t>(pattern[0] ^ key);
    const uint8_t wildcard = static_cast<uint8_t>(pattern[1] ^ key);
    for (uint32_t k = 0; k < length; k++) {
        const uint8_t expected = static_cast<uint8_t>(pattern[2 + k] ^ key);
        if (expected != wildcard && expected != data[k]) return 0;
    }
    return 1;
}

}  // namespace

extern "C" int32_t scrambled_pattern_match(const uint8_t *data, const uint8_t *pattern) {
    return match_pattern<kq::kCompareKey>(data, pattern);
}

extern "C" int32_t pattern_match(const uint8_t *data, const uint8_t *pattern) { return match_pattern<0>(data, pattern); }
