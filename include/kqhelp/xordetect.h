/* Detection of executables hidden by XOR, addition or widening (slots 57-59). */
#ifndef KQHELP_XORDETECT_H
#define KQHELP_XORDETECT_H

#include "kqhelp/host.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t (*xordetect_check_header_fn)(const uint8_t *buffer, uint32_t size);
typedef int32_t (*xordetect_find_key_fn)(const uint8_t *source, uint8_t *decoded, uint8_t *key_byte,
                                         uint32_t *key_word);
typedef int32_t (*xordetect_scan_buffer_fn)(uint8_t *source, uint8_t *decoded, uint8_t *key_byte,
                                            uint32_t *key_word, uint32_t size);

#ifdef __cplusplus
}
#endif
#endif
