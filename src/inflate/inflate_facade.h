// Slots 39-43 are zlib's own inflate entry points, placed in the table with
// no wrapper: inflateInit_, inflate, inflateEnd, inflateReset, uncompress.
//
// What callers rely on, all of it zlib's contract of the linked release:
// - inflateInit_ sets up a zlib-wrapped stream with a 32 KiB window and
//   answers Z_VERSION_ERROR unless the version string starts with '1' and
//   the record size equals this build's sizeof(z_stream) (56 on i386);
// - with zalloc/zfree left null, zlib takes its working memory from libc's
//   malloc/free, not from the host; a caller wanting host memory sets them;
// - uncompress sets up its own stream with the linked library's version.
// The slot list names these entries inflate_init, inflate, inflate_end,
// inflate_reset and uncompress; the three that zlib names differently are
// mapped to zlib's names here, so the module's slot declarations redeclare
// zlib's own prototypes and stop the build if they ever drift from the slot
// types of the public header.
#pragma once

#include <zlib.h>

#include "kqhelp/inflate.h"

#define inflate_init inflateInit_  // 39
#define inflate_end inflateEnd     // 41
#define inflate_reset inflateReset // 42

#if defined(__i386__)
static_assert(sizeof(z_stream) == 56, "the i386 z_stream record the engine allocates is 56 bytes");
#endif
