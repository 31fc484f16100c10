/* Boyer-Moore search over caller buffers (slots 35-38). */
#ifndef KQHELP_SEARCH_H
#define KQHELP_SEARCH_H

#include "kqhelp/host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Scrambled patterns have every byte XORed with this key. */
#define SEARCH_PATTERN_KEY 0x2Fu

#define SEARCH_NOT_FOUND (-1)
#define SEARCH_BAD_ARGUMENT (-2)
#define SEARCH_NO_MEMORY (-9)

/* Returns the position of the first match counted from buffer + offset. */
typedef int32_t (*search_buffer_fn)(host_context *ctx, uint32_t instance, const uint8_t *buffer,
                                    const uint8_t *pattern, int32_t m, int32_t offset, int32_t length);
typedef search_buffer_fn search_buffer_nocase_fn;
typedef search_buffer_fn search_buffer_scrambled_fn;
typedef search_buffer_fn search_buffer_scrambled_nocase_fn;

#ifdef __cplusplus
}
#endif
#endif
