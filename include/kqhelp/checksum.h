/* CRCs and the known-file match (slots 54-56). */
#ifndef KQHELP_CHECKSUM_H
#define KQHELP_CHECKSUM_H

#include "kqhelp/module.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t (*crc32_update_fn)(uint32_t crc, const uint8_t *data, uint32_t length);
typedef uint32_t (*crc16_update_fn)(uint32_t crc, const uint8_t *data, uint32_t length);
typedef int32_t (*known_file_match_fn)(scan_file *file);

#ifdef __cplusplus
}
#endif
#endif
