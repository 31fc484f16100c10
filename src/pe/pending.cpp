// Slots of the PE reader that are not built yet answer with their failure values.
#include "module/slots.h"

extern "C" {
const uint8_t *file_get_window(scan_file *, int32_t, int64_t, uint64_t *size_out, uint64_t *position_out) {
    if (size_out) *size_out = 0;
    if (position_out) *position_out = 0;
    return nullptr;
}
const uint8_t *pe_get_dos_header(scan_file *) { return nullptr; }
const uint8_t *pe_get_nt_headers32(scan_file *) { return nullptr; }
const uint8_t *pe_get_sections32(scan_file *, uint32_t *) { return nullptr; }
const uint8_t *pe_get_nt_headers64(scan_file *) { return nullptr; }
const uint8_t *pe_get_sections64(scan_file *, uint32_t *) { return nullptr; }
const uint8_t *pe_get_ne_header(scan_file *) { return nullptr; }
int32_t pe_find_section_by_rva(int32_t, const uint8_t *, uint32_t) { return -1; }
int32_t pe_find_section_by_offset(int32_t, const uint8_t *, uint32_t) { return -1; }
uint32_t pe_rva_to_offset(int32_t, const uint8_t *, uint32_t) { return 0; }
uint32_t pe_offset_to_rva(int32_t, const uint8_t *, uint32_t) { return 0; }
uint32_t pe_rva_to_offset_ex(int32_t, const uint8_t *, uint32_t) { return 0xFFFFFFFFu; }
uint32_t pe_offset_to_rva_ex(int32_t, const uint8_t *, uint32_t) { return 0xFFFFFFFFu; }
uint64_t pe_get_overlay(scan_file *, uint64_t *size) {
    if (size) *size = 0;
    return 0;
}
}
