// File offsets of a PE32 image's entry point, as the windows place it.
#pragma once

#include "kqhelp/kqhelp.h"

namespace kq {

// AddressOfEntryPoint mapped over the section table as stored; -1 when the
// image has no PE32 headers, no sections, or the entry point maps nowhere.
int64_t pe_entry_offset_raw(scan_file *file);

// The same over a copy of the table whose raw-data pointers are rounded down
// to FileAlignment (pointers on a 512-byte boundary are left as they are).
int64_t pe_entry_offset_aligned(scan_file *file);

}  // namespace kq
