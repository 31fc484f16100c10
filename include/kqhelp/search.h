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

/* Slots 35-38: the position, counted from buffer + offset, of the leftmost
 * occurrence of the m-byte pattern in buffer[offset, offset + length), or
 * SEARCH_NOT_FOUND (also when m > length). SEARCH_BAD_ARGUMENT for a null ctx,
 * no host interface 1, offset or length below 0, m outside 1-255, or a null
 * buffer or pattern; SEARCH_NO_MEMORY when a host_alloc fails. The region is
 * trusted to be readable. Each call takes its few KiB of tables from the host
 * and returns them before it returns: nothing is kept.
 * Slot 36 (search_buffer) compares bytes as given; slot 35 (_nocase) folds the
 * 26 ASCII capitals only; slots 38 and 37 take the pattern scrambled (every
 * byte XOR SEARCH_PATTERN_KEY), exactly or case-folded. */
typedef int32_t (*search_buffer_fn)(host_context *ctx, uint32_t instance, const uint8_t *buffer,
                                    const uint8_t *pattern, int32_t m, int32_t offset, int32_t length);
typedef search_buffer_fn search_buffer_nocase_fn;
typedef search_buffer_fn search_buffer_scrambled_fn;
typedef search_buffer_fn search_buffer_scrambled_nocase_fn;

#ifdef __cplusplus
}
#endif
#endif
