// The per-file cache of parsed PE structures, filled on first demand.
#pragma once

#include "kqhelp/kqhelp.h"

namespace kq {

struct pe_cache_slot {
    uint8_t *value;  // the loader's record, owned by the pe_reader
    uint8_t state;   // kLoad*: not tried, present, absent
    uint32_t count;  // section tables: number of 40-byte headers
};

struct pe_reader {
    pe_cache_slot dos_header;
    pe_cache_slot nt_headers32;
    pe_cache_slot sections32;
    pe_cache_slot ne_header;
    pe_cache_slot nt_headers64;
    pe_cache_slot sections64;
    uint32_t overlay_known;
    uint64_t overlay_size;
    uint64_t overlay_offset;
};

using pe_loader = uint8_t *(*)(scan_file *file);
using pe_table_loader = uint8_t *(*)(scan_file *file, uint32_t *count_out);

// The file's pe_reader, created (zero-filled) and attached on first use.
pe_reader *pe_reader_get(scan_file *file);

// Runs the loader once per scan_file and remembers its outcome.
uint8_t *pe_cache_get(scan_file *file, pe_cache_slot *slot, pe_loader loader);
uint8_t *pe_cache_get(scan_file *file, pe_cache_slot *slot, pe_table_loader loader, uint32_t *count_out);

}  // namespace kq
