// Slot 44 (a scrambled buffer against a plain one) and the exported
// xor_string_copy. Neither writes out a plain copy of a scrambled operand.
#include "module/slots.h"
#include "names/scramble_keys.h"

extern "C" int32_t scrambled_compare(const uint8_t *a, const uint8_t *b, int32_t n) {
    // Equal or not: -1 does not order the buffers. n <= 0 compares nothing.
    for (int32_t i = 0; i < n; i++)
        if (static_cast<uint8_t>(a[i] ^ kq::kCompareKey) != b[i]) return -1;
    return 0;
}

extern "C" void xor_string_copy(const uint8_t *source, uint8_t *target, uint32_t n) {
    if (!source || !target || n == 0) return;
    for (uint32_t i = 0; i < n; i++) target[i] = static_cast<uint8_t>(source[i] ^ kq::kSearchPatternKey);
    target[n] = 0;
}
