// The raw and aligned entry-point offsets. Both reach the headers and the
// translation through the file's own published table.
#include "pe/pe_entry.h"

#include <string.h>

#include "pe/pe_format.h"

namespace kq {
namespace {

struct pe32_image {
    const uint8_t *nt = nullptr;
    const uint8_t *sections = nullptr;
    uint32_t count = 0;
};

pe32_image pe32_of(scan_file *file) {
    pe32_image image;
    auto get_nt = self_slot<pe_get_nt_headers32_fn>(file, SLOT_PE_GET_NT_HEADERS32);
    auto get_sections = self_slot<pe_get_sections32_fn>(file, SLOT_PE_GET_SECTIONS32);
    if (!get_nt || !get_sections) return image;
    image.nt = get_nt(file);
    if (image.nt) image.sections = get_sections(file, &image.count);
    return image;
}

// The translation's "no offset" (0xFFFFFFFF) becomes -1.
int64_t entry_offset(scan_file *file, uint32_t count, const uint8_t *sections, uint32_t entry) {
    auto rva_to_offset = self_slot<pe_rva_to_offset_ex_fn>(file, SLOT_PE_RVA_TO_OFFSET_EX);
    if (!rva_to_offset) return -1;
    return static_cast<int32_t>(rva_to_offset(static_cast<int32_t>(count), sections, entry));
}

// Rounds raw-data pointers down to the file alignment, as loaders that
// ignore the low bits do; the raw size grows to a whole number of units.
void align_raw_pointers(uint8_t *sections, uint32_t count, uint32_t alignment) {
    if (alignment == 0) return;
    for (uint32_t i = 0; i < count; i++) {
        uint8_t *s = sections + uint64_t(i) * PE_SECTION_HEADER_SIZE;
        uint32_t pointer = section_raw_pointer(s);
        if ((pointer & 0x1FF) == 0) continue;
        uint32_t rounded = pointer / alignment * alignment;
        if (rounded == pointer) continue;
        uint32_t size = (section_raw_size(s) + alignment - 1) / alignment * alignment;
        store_le32(s + PE_SECTION_SIZE_OF_RAW_DATA, size);
        store_le32(s + PE_SECTION_POINTER_TO_RAW_DATA, rounded);
    }
}

}  // namespace

int64_t pe_entry_offset_raw(scan_file *file) {
    pe32_image image = pe32_of(file);
    if (!image.nt || !image.sections || image.count == 0) return -1;
    return entry_offset(file, image.count, image.sections, load_le32(image.nt + PE_NT_ADDRESS_OF_ENTRY_POINT));
}

int64_t pe_entry_offset_aligned(scan_file *file) {
    pe32_image image = pe32_of(file);
    if (!image.nt || !image.sections) return -1;
    host_ref host = host_of(file);
    uint64_t bytes = uint64_t{image.count} * PE_SECTION_HEADER_SIZE;
    host_block copy(host, host.alloc(bytes));
    if (!copy) return -1;
    memcpy(copy.get(), image.sections, bytes);
    align_raw_pointers(copy.get(), image.count, load_le32(image.nt + PE_NT_FILE_ALIGNMENT));
    return entry_offset(file, image.count, copy.get(), load_le32(image.nt + PE_NT_ADDRESS_OF_ENTRY_POINT));
}

}  // namespace kq
