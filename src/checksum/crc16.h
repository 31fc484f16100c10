// CRC-16 kernels behind crc16_update. All compute the augmented register
// update ((register * x^8 + byte) mod P per byte, P = 0x11021) and give
// identical results for every input; the register is the low 16 bits.
#pragma once

#include <stdint.h>

namespace kq {

// One table lookup per byte: the defining rule.
uint32_t crc16_bytewise(uint32_t crc, const uint8_t *data, uint64_t length);
// Eight bytes per step with the sliced tables.
uint32_t crc16_sliced(uint32_t crc, const uint8_t *data, uint64_t length);
// Carry-less multiplication folding (PCLMULQDQ, SSSE3); only where the CPU has it.
bool crc16_clmul_available();
uint32_t crc16_clmul(uint32_t crc, const uint8_t *data, uint64_t length);

}  // namespace kq
