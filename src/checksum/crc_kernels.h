// The kernels behind crc32_update and crc16_update. Each family gives
// identical results for every input: raw register updates, no inversion.
// CRC-32 is the reflected IEEE 802.3 register; CRC-16 the augmented CCITT
// one ((register * x^8 + byte) mod 0x11021 per byte, in the low 16 bits).
//   bytewise: one table lookup per byte, the defining rule;
//   sliced:   eight bytes per step with the sliced tables;
//   clmul:    carry-less multiplication folding, only where *_clmul_available().
#pragma once

#include <stdint.h>

namespace kq {

uint32_t crc32_bytewise(uint32_t crc, const uint8_t *data, uint64_t length);
uint32_t crc32_sliced(uint32_t crc, const uint8_t *data, uint64_t length);
bool crc32_clmul_available();
uint32_t crc32_clmul(uint32_t crc, const uint8_t *data, uint64_t length);

uint32_t crc16_bytewise(uint32_t crc, const uint8_t *data, uint64_t length);
uint32_t crc16_sliced(uint32_t crc, const uint8_t *data, uint64_t length);
bool crc16_clmul_available();
uint32_t crc16_clmul(uint32_t crc, const uint8_t *data, uint64_t length);

}  // namespace kq
