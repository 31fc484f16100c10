// What kind of executable a file is, as the module's PE and ELF readers see
// it (kqhelp pe, elf and scan).
#pragma once

#include "common/bounds.h"
#include "tool.h"

namespace kqtool {

using kq::load_le16;
using kq::load_le32;
using kq::load_le64;

struct pe_summary {
    const char *format = nullptr;  // "PE32", "PE32+", "NE"; null for MS-DOS only
    const uint8_t *dos = nullptr;
    uint32_t lfanew = 0;
    const uint8_t *nt = nullptr;
    const uint8_t *sections = nullptr;
    uint32_t count = 0;
    int64_t entry_raw = -1, entry_aligned = -1;
    uint64_t overlay_offset = 0, overlay_size = 0;
};
// Fills s; returns null, or why the file is not a PE/NE file (s.dos tells
// whether it is an MS-DOS executable at all).
const char *summarise_pe(const tool &t, scan_file *file, pe_summary &s);
uint64_t image_base(const pe_summary &s);

// One line of facts for kqhelp scan.
struct file_facts {
    std::string format = "other";  // PE32, PE32+, NE, MS-DOS, ELF32 LE, ELF64 BE, ..., other
    bool entry_known = false;
    uint64_t entry_offset = 0;
    bool has_sections = false;
    uint32_t sections = 0;
    bool has_overlay = false;
    uint64_t overlay_offset = 0, overlay_size = 0;
};
file_facts identify(const tool &t, scan_file *file);

}  // namespace kqtool
