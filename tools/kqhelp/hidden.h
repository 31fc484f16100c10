// Executables hidden by XOR, addition or widening anywhere in a file, found
// with the module's scanner over overlapping windows (kqhelp xor and scan).
#pragma once

#include <atomic>

#include "tool.h"

namespace kqtool {

struct hidden {
    std::string scheme;        // plain, xor8, xor32, xor32-unlocated, xor128, add8, add32, widened
    bool located = false;      // offset is known
    uint64_t offset = 0;       // file offset of the header
    bool key_known = false;
    std::vector<uint8_t> key;  // applied from file offset 0
    uint64_t window = 0;       // file offset of the window it was found in
};

struct hidden_search {
    size_t max_findings = 64;             // later ones are not looked for
    uint32_t *crc32 = nullptr;            // when set: the file's CRC-32, computed on the way
    std::atomic<uint64_t> *bytes = nullptr;  // when set: bytes read so far, for progress
};

// Every finding in file order of the windows; false after reporting a read error.
bool find_hidden(const tool &t, const char *path, scan_file *file, uint32_t handle, const hidden_search &how,
                 std::vector<hidden> *found, bool *truncated);

std::string key_hex(const hidden &h);
const char *scheme_text(const std::string &scheme);

}  // namespace kqtool
