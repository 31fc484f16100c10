// CRC-16/CCITT in the augmented form (slot 55): the data byte enters the low
// end of the register after the shift instead of the table index.
#include "checksum/crc_tables.h"
#include "module/slots.h"

extern "C" uint32_t crc16_update(uint32_t crc, const uint8_t *data, uint32_t length) {
    uint32_t r = crc & 0xFFFFu;
    for (uint32_t i = 0; i < length; i++) r = ((r << 8) & 0xFFFFu) ^ kq::kCrc16Table.entry[r >> 8] ^ data[i];
    return r;
}
