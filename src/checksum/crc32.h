// CRC-32 kernels behind crc32_update. All compute the raw reflected register
// update (no inversion) and give identical results for every input.
#pragma once

#include <stdint.h>

namespace kq {

// One table lookup per byte: the defining rule.
uint32_t crc32_bytewise(uint32_t crc, const uint8_t *data, uint64_t length);
// Eight bytes per step with the sliced tables.
uint32_t crc32_sliced(uint32_t crc, const uint8_t *data, uint64_t length);
// Carry-less multiplication folding (PCLMULQDQ); only where the CPU has it.
bool crc32_clmul_available();
uint32_t crc32_clmul(uint32_t crc, const uint8_t *data, uint64_t length);

}  // namespace kq
