// CRC-16/CCITT in the augmented form (slot 55): the data byte enters the low
// end of the register after the shift instead of the table index. The table
// kernels are here; the carry-less multiplication kernel is in crc16_clmul.cpp.
#include "checksum/crc_kernels.h"

#include "checksum/crc_tables.h"
#include "module/slots.h"

namespace kq {
namespace {

// Below this length the folding kernel's fixed cost outweighs its speed.
inline constexpr uint64_t kClmulThreshold = 64;

}  // namespace

uint32_t crc16_bytewise(uint32_t crc, const uint8_t *data, uint64_t length) {
    uint32_t r = crc & 0xFFFFu;
    for (uint64_t i = 0; i < length; i++) r = ((r << 8) & 0xFFFFu) ^ kCrc16Tables.slice[0][r >> 8] ^ data[i];
    return r;
}

// register * x^64 + d0 * x^56 + ... + d7 mod P: the register's two bytes and
// the first six data bytes go through the tables, the last two are already
// reduced.
uint32_t crc16_sliced(uint32_t crc, const uint8_t *data, uint64_t length) {
    const auto &t = kCrc16Tables.slice;
    uint32_t r = crc & 0xFFFFu;
    for (; length >= 8; data += 8, length -= 8)
        r = t[7][r >> 8] ^ t[6][r & 0xFF] ^ t[5][data[0]] ^ t[4][data[1]] ^ t[3][data[2]] ^ t[2][data[3]] ^
            t[1][data[4]] ^ t[0][data[5]] ^ (static_cast<uint32_t>(data[6]) << 8) ^ data[7];
    return crc16_bytewise(r, data, length);
}

}  // namespace kq

extern "C" uint32_t crc16_update(uint32_t crc, const uint8_t *data, uint32_t length) {
    if (length >= kq::kClmulThreshold && kq::crc16_clmul_available()) return kq::crc16_clmul(crc, data, length);
    return kq::crc16_sliced(crc, data, length);
}
