/* CRCs and the known-file match (slots 54-56). */
#ifndef KQHELP_CHECKSUM_H
#define KQHELP_CHECKSUM_H

#include "kqhelp/module.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Slot 54: the reflected CRC-32 register (polynomial 0xEDB88320) after the
 * length bytes, with no inversion: the standard CRC-32 of a message is
 * ~crc32_update(0xFFFFFFFF, data, n), and pieces chain by passing the raw
 * result on. data is not tested; a length of 0 returns crc. Re-entrant. */
typedef uint32_t (*crc32_update_fn)(uint32_t crc, const uint8_t *data, uint32_t length);
/* Slot 55: CRC-16/CCITT (0x1021, MSB first) in the augmented form: each byte
 * enters the register's low end after the shift. Only the low 16 bits of crc
 * count; the result is in the low 16 bits (0xBEEF after "123456789" from 0). */
typedef uint32_t (*crc16_update_fn)(uint32_t crc, const uint8_t *data, uint32_t length);
/* Slot 56: 1 when the file's size (low 32 bits) and the standard CRC-32 of
 * the region named by an entry of the host's list (interface 10, asked on
 * every call) match that entry, else 0, also for every failure. The answer
 * is kept on the file until slot 3: "no match" also after a short read or
 * when bit 0x08 or 0x20 of setting 3 (interface 0) switches the match off.
 * A null file, ctx 0, instance 0, no interface 10, no list, more than
 * 1,000,000 entries or no 64 KiB buffer answer 0 and decide nothing. Moves
 * the host file position. */
typedef int32_t (*known_file_match_fn)(scan_file *file);

#ifdef __cplusplus
}
#endif
#endif
