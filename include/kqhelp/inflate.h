/* zlib's inflate functions as placed in the table (slots 39-43). The
 * z_stream record and status codes are zlib's own. */
#ifndef KQHELP_INFLATE_H
#define KQHELP_INFLATE_H

#include <zlib.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Slots 39-43 are inflateInit_, inflate, inflateEnd, inflateReset and
 * uncompress of the linked zlib 1.x, unwrapped: arguments, results and the
 * z_stream are zlib's. With zalloc and zfree left null zlib takes its memory
 * from libc's malloc and free, not from the host; set them to route it. One
 * z_stream is used by one thread at a time. */
/* Slot 39: Z_OK, or Z_VERSION_ERROR unless version starts with '1' (use
 * ZLIB_VERSION) and stream_size is sizeof(z_stream); sets up a zlib-wrapped
 * stream (header and Adler-32 trailer) with a 32 KiB window. */
typedef int (*inflate_init_fn)(z_stream *stream, const char *version, int stream_size);
/* Slot 40: Z_OK, Z_STREAM_END at the end of the stream, or Z_BUF_ERROR,
 * Z_DATA_ERROR, Z_STREAM_ERROR, Z_MEM_ERROR, Z_NEED_DICT as zlib says. */
typedef int (*inflate_fn)(z_stream *stream, int flush);
/* Slots 41, 42: release the stream's memory; make it ready for a new stream. */
typedef int (*inflate_end_fn)(z_stream *stream);
typedef int (*inflate_reset_fn)(z_stream *stream);
/* Slot 43: a whole zlib-wrapped buffer into dest of *dest_len bytes; *dest_len
 * = bytes written. Z_OK, Z_BUF_ERROR (output does not fit), Z_DATA_ERROR
 * (corrupt or truncated input), Z_MEM_ERROR. */
typedef int (*uncompress_fn)(Bytef *dest, uLongf *dest_len, const Bytef *source, uLong source_len);

#if defined(__i386__)
#ifdef __cplusplus
static_assert(sizeof(z_stream) == 56, "zlib's z_stream is 56 bytes on i386");
#else
_Static_assert(sizeof(z_stream) == 56, "zlib's z_stream is 56 bytes on i386");
#endif
#endif

#ifdef __cplusplus
}
#endif
#endif
