/* zlib's inflate functions as placed in the table (slots 39-43). The
 * z_stream record and status codes are zlib's own. */
#ifndef KQHELP_INFLATE_H
#define KQHELP_INFLATE_H

#include <zlib.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int (*inflate_init_fn)(z_stream *stream, const char *version, int stream_size);
typedef int (*inflate_fn)(z_stream *stream, int flush);
typedef int (*inflate_end_fn)(z_stream *stream);
typedef int (*inflate_reset_fn)(z_stream *stream);
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
