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
// The checks below stop the build if the linked zlib's prototypes ever
// drift from the slot types of the public header.
#pragma once

#include <zlib.h>

#include "kqhelp/inflate.h"

namespace kq::inflate_facade {

inline constexpr inflate_init_fn init = &inflateInit_;      // 39
inline constexpr inflate_fn step = &inflate;                // 40
inline constexpr inflate_end_fn end = &inflateEnd;          // 41
inline constexpr inflate_reset_fn reset = &inflateReset;    // 42
inline constexpr uncompress_fn whole_buffer = &uncompress;  // 43

#if defined(__i386__)
static_assert(sizeof(z_stream) == 56, "the i386 z_stream record the engine allocates is 56 bytes");
#endif

}  // namespace kq::inflate_facade
