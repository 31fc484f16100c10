/* Detection of executables hidden by XOR, addition or widening (slots 57-59). */
#ifndef KQHELP_XORDETECT_H
#define KQHELP_XORDETECT_H

#include "kqhelp/host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* These read only the caller's buffers, allocate nothing, keep no state and
 * are re-entrant; source and decoded must not overlap. A four-byte key word
 * applies to each little-endian u32 from offset 0; a one-byte key is also
 * reported as a key word holding it in all four bytes. */

/* Slot 57: 1 when buffer starts with a plausible MZ/PE32 header: "MZ",
 * e_lfanew not 0 and at most size - 128, "PE\0\0", Magic 0x10B, and one of
 * subsystem version 4.0, FileAlignment 0x200, heap reserve 0x10000 or 16 data
 * directories. Else 0; 0 for a null buffer or a size below 512. */
typedef int32_t (*xordetect_check_header_fn)(const uint8_t *buffer, uint32_t size);
/* Slot 58: 1 when a one- or four-byte XOR key turns the 512-byte block at
 * source into a plausible header: *key_byte = the one-byte key (0 for a
 * four-byte key), *key_word = the key (0 for a plain header), and decoded (512
 * writable bytes) holds the decoded block (its first 508 bytes for a four-byte
 * key). 0 when none is found (the outputs then mean nothing) or a pointer is
 * null (nothing written). */
typedef int32_t (*xordetect_find_key_fn)(const uint8_t *source, uint8_t *decoded, uint8_t *key_byte,
                                         uint32_t *key_word);
/* Slot 59: scans size bytes (decoded: size writable bytes) for an encoded
 * header at any offset. Returns its offset p in decoded with the XOR key as
 * for slot 58 (0, 0: plain), or -1 with that key when p > size - 512. -1 with
 * *key_byte 0xFF (0 for a four-byte XOR key of 0) and *key_word 1: an encoded
 * executable was found but not located, or under a 16-byte XOR, additive or
 * widening scheme. -1 with 0, 0: nothing found. A null pointer or a size below
 * 512 returns 0 and writes nothing: preset the outputs to tell it from offset
 * 0. Two bytes of source may be rewritten (an "MZ" restored under the key). */
typedef int32_t (*xordetect_scan_buffer_fn)(uint8_t *source, uint8_t *decoded, uint8_t *key_byte,
                                            uint32_t *key_word, uint32_t size);

#ifdef __cplusplus
}
#endif
#endif
