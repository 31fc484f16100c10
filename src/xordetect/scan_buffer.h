// Slot 59 with a chosen set of lane kernels, so that tests can run every set
// this processor supports; the slot itself uses the best one.
#pragma once

#include <stdint.h>

#include "xordetect/lane_kernels.h"

namespace kq::xordetect {

int32_t scan_buffer(const lane_kernels &lanes, uint8_t *source, uint8_t *decoded, uint8_t *key_byte,
                    uint32_t *key_word, uint32_t size);

}  // namespace kq::xordetect
