// Reading a file through the host services of its scan_file, in pieces: the
// way the module itself reads, and independent of the file's size.
#pragma once

#include <stdint.h>

#include <vector>

#include "kqhelp/kqhelp.h"

namespace kqtool {

// Appends up to max bytes at the file's current position to buffer; returns
// the number appended (0 at the end of the file or on a read failure).
inline uint64_t read_more(const scan_file *file, uint32_t handle, std::vector<uint8_t> &buffer, uint64_t max) {
    const size_t old = buffer.size();
    buffer.resize(old + max);
    uint64_t done = 0;
    if (file->services->read(file->ctx, file->instance, handle, buffer.data() + old, max, &done) != 0) done = 0;
    buffer.resize(old + done);
    return done;
}

inline bool rewind_file(const scan_file *file, uint32_t handle) {
    return file->services->seek(file->ctx, file->instance, handle, 0, 0) == 0;
}

}  // namespace kqtool
