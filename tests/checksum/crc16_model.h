// The augmented CRC-16 rule, bit by bit: each data bit is shifted into the
// low end of the register, the register's top bit decides the reduction.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace kqtest {

inline uint32_t crc16_bitwise(uint32_t reg, const uint8_t *p, size_t n) {
    reg &= 0xFFFF;
    for (size_t k = 0; k < n; k++)
        for (int bit = 7; bit >= 0; bit--) {
            uint32_t top = reg & 0x8000;
            reg = ((reg << 1) | ((p[k] >> bit) & 1)) & 0xFFFF;
            if (top) reg ^= 0x1021;
        }
    return reg;
}

}  // namespace kqtest
