// Slot 18: the overlay, the bytes behind the end of the last section's raw
// data, computed once per file and kept in the pe_reader.
#include "module/slots.h"
#include "pe/pe_format.h"

namespace kq {
namespace {

void compute_overlay(scan_file *file, pe_reader *reader) {
    reader->overlay_size = 0;
    reader->overlay_offset = 0;
    uint32_t count = 0;
    const uint8_t *table = nullptr;
    if (pe_get_nt_headers32(file))
        table = pe_get_sections32(file, &count);
    else if (pe_get_nt_headers64(file))
        table = pe_get_sections64(file, &count);
    if (!table || count == 0) return;
    if (count > PE_MAX_SECTIONS) count = PE_MAX_SECTIONS;
    uint64_t end = 0;
    for (uint32_t i = 0; i < count; i++) {
        const uint8_t *s = table + uint64_t(i) * PE_SECTION_HEADER_SIZE;
        uint64_t section_end = uint32_t(section_raw_pointer(s) + section_raw_size(s));  // wraps like the fields
        if (section_end > end) end = section_end;
    }
    if (end > file->size) return;
    reader->overlay_offset = end;
    reader->overlay_size = file->size - end;
}

}  // namespace
}  // namespace kq

extern "C" uint64_t pe_get_overlay(scan_file *file, uint64_t *size) {
    if (!file || !size) return 0;
    *size = 0;
    kq::pe_reader *reader = kq::pe_reader_get(file);
    if (!reader) return 0;
    if (!reader->overlay_known) {
        kq::compute_overlay(file, reader);
        reader->overlay_known = 1;
    }
    *size = reader->overlay_size;
    return reader->overlay_offset;
}
