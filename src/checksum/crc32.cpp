// CRC-32 of IEEE 802.3 as a raw register update (slot 54), with the table
// kernels; the carry-less multiplication kernel is in crc32_clmul.cpp.
#include "checksum/crc_kernels.h"

#include <string.h>

#include "checksum/crc_tables.h"
#include "module/slots.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the sliced kernel loads little-endian words");

namespace kq {
namespace {

// Below this length the folding kernel's fixed cost outweighs its speed.
inline constexpr uint64_t kClmulThreshold = 64;

inline uint32_t step(uint32_t crc, uint8_t b) { return (crc >> 8) ^ kCrc32Tables.slice[0][(crc ^ b) & 0xFF]; }

}  // namespace

uint32_t crc32_bytewise(uint32_t crc, const uint8_t *data, uint64_t length) {
    for (uint64_t i = 0; i < length; i++) crc = step(crc, data[i]);
    return crc;
}

uint32_t crc32_sliced(uint32_t crc, const uint8_t *data, uint64_t length) {
    const auto &t = kCrc32Tables.slice;
    while (length >= 8) {
        uint32_t lo, hi;
        memcpy(&lo, data, 4);
        memcpy(&hi, data + 4, 4);
        lo ^= crc;
        crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        data += 8;
        length -= 8;
    }
    return crc32_bytewise(crc, data, length);
}

}  // namespace kq

extern "C" uint32_t crc32_update(uint32_t crc, const uint8_t *data, uint32_t length) {
    if (length >= kq::kClmulThreshold && kq::crc32_clmul_available()) return kq::crc32_clmul(crc, data, length);
    return kq::crc32_sliced(crc, data, length);
}
