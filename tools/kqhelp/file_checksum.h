// Checksums of a file region, read in bounded pieces (crc, known --make).
#pragma once

#include "tool.h"

namespace kqtool {

struct region {
    uint64_t offset = 0;
    bool to_end = true;
    uint64_t length = 0;
};
// --offset N and --length N; false after a message when a value is bad.
bool parse_region(const arguments &a, region *r);

struct checksums {
    uint64_t offset = 0, length = 0;
    uint32_t crc32 = 0;  // the standard CRC-32
    uint32_t crc16 = 0;  // the raw CRC-16 register from 0
};
// Only the checksums asked for are computed. False after reporting.
bool checksum_file(const tool &t, const char *path, scan_file *file, uint32_t handle, const region &r, bool crc32,
                   bool crc16, checksums *out);

}  // namespace kqtool
