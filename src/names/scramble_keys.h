// One-byte XOR keys of the byte strings the engine keeps scrambled.
#pragma once

#include <stdint.h>

namespace kq {

// Compared strings and wildcard patterns (slots 44, 45).
inline constexpr uint8_t kCompareKey = 0x71;
// Search patterns; xor_string_copy writes them out in this key.
inline constexpr uint8_t kSearchPatternKey = 0x2F;

}  // namespace kq
