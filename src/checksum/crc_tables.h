// The CRC lookup tables, computed at compile time.
#pragma once

#include <stdint.h>

namespace kq {

inline constexpr uint32_t kCrc32Poly = 0xEDB88320u;  // 0x04C11DB7, reflected
inline constexpr uint16_t kCrc16Poly = 0x1021u;

// slice[0] is the classic byte table; slice[k][b] is the register after byte
// b followed by k zero bytes, so eight bytes can be folded in one step.
struct crc32_table_set {
    uint32_t slice[8][256];
};

constexpr crc32_table_set make_crc32_tables() {
    crc32_table_set t{};
    for (uint32_t b = 0; b < 256; b++) {
        uint32_t r = b;
        for (int k = 0; k < 8; k++) r = (r & 1) ? (r >> 1) ^ kCrc32Poly : r >> 1;
        t.slice[0][b] = r;
    }
    for (int k = 1; k < 8; k++)
        for (uint32_t b = 0; b < 256; b++) {
            uint32_t prev = t.slice[k - 1][b];
            t.slice[k][b] = (prev >> 8) ^ t.slice[0][prev & 0xFF];
        }
    return t;
}

// The augmented CRC-16 register after a step is (register * x^8 + byte) mod
// P. slice[k][b] is b * x^(16 + 8k) mod P: slice[0] is the classic byte table,
// and eight bytes enter in one step as a sum of eight lookups.
struct crc16_table_set {
    uint16_t slice[8][256];
};

constexpr crc16_table_set make_crc16_tables() {
    crc16_table_set t{};
    for (uint32_t b = 0; b < 256; b++) {
        uint32_t r = b << 8;
        for (int k = 0; k < 8; k++) r = (r & 0x8000) ? (r << 1) ^ kCrc16Poly : r << 1;
        t.slice[0][b] = static_cast<uint16_t>(r);
    }
    for (int k = 1; k < 8; k++)
        for (uint32_t b = 0; b < 256; b++) {
            uint32_t prev = t.slice[k - 1][b];
            t.slice[k][b] = static_cast<uint16_t>(((prev << 8) & 0xFFFF) ^ t.slice[0][prev >> 8]);
        }
    return t;
}

inline constexpr crc32_table_set kCrc32Tables = make_crc32_tables();
inline constexpr crc16_table_set kCrc16Tables = make_crc16_tables();

static_assert(kCrc32Tables.slice[0][1] == 0x77073096u, "standard CRC-32 table");
static_assert(kCrc32Tables.slice[0][255] == 0x2D02EF8Du, "standard CRC-32 table");
static_assert(kCrc16Tables.slice[0][1] == 0x1021u && kCrc16Tables.slice[0][255] == 0x1EF0u, "standard CRC-16 table");

}  // namespace kq
