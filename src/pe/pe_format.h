// Internal helpers shared by the PE readers: the numbers that tell PE32 and
// PE32+ apart, the MS-DOS signature test and access to the head region.
#pragma once

#include "common/bounds.h"
#include "kqhelp/kqhelp.h"
#include "module/host_calls.h"
#include "pe/pe_reader.h"

namespace kq {

// What differs between the two image kinds: only numbers and where their
// records are cached. Everything else is one implementation.
struct pe_image_kind {
    uint64_t min_head_size;   // a head shorter than this cannot hold the headers
    uint32_t record_size;     // bytes of the NT headers record
    uint16_t magic;           // required optional-header Magic
    pe_cache_slot pe_reader::*nt_slot;
    pe_cache_slot pe_reader::*sections_slot;
};

// The smallest heads the loaders look at: the MS-DOS header and the record
// behind it for the NT and NE headers; the section table loader has a fixed
// floor of its own, not made of record sizes.
inline constexpr uint64_t kPe32MinHead = PE_DOS_HEADER_SIZE + PE_NT_HEADERS32_SIZE;    // 312
inline constexpr uint64_t kPe64MinHead = PE_DOS_HEADER_SIZE + PE_NT_HEADERS64_SIZE;    // 328
inline constexpr uint64_t kNeMinHead = PE_DOS_HEADER_SIZE + PE_NE_HEADER_SIZE;         // 128
inline constexpr uint64_t kSectionTableMinHead = 256;

// The optional header follows the signature (u32) and the 20-byte COFF file
// header, and begins with its Magic.
inline constexpr uint64_t kNtOptionalHeader = PE_NT_MAGIC;

inline constexpr pe_image_kind kPe32Kind{kPe32MinHead, PE_NT_HEADERS32_SIZE, PE_MAGIC_PE32,
                                         &pe_reader::nt_headers32, &pe_reader::sections32};
inline constexpr pe_image_kind kPe64Kind{kPe64MinHead, PE_NT_HEADERS64_SIZE, PE_MAGIC_PE32_PLUS,
                                         &pe_reader::nt_headers64, &pe_reader::sections64};

// "MZ", "MY" or "ZM" in the first two bytes.
inline bool has_dos_signature(const uint8_t *p) {
    return (p[0] == 'M' && (p[1] == 'Z' || p[1] == 'Y')) || (p[0] == 'Z' && p[1] == 'M');
}

struct head_region {
    const uint8_t *data = nullptr;
    uint64_t size = 0;
};

// The head region, asked for through the file's own published table so that
// a host that wraps the table sees every request.
inline head_region pe_head(scan_file *file) {
    head_region head;
    if (!file->self_api) return head;
    auto get_region = reinterpret_cast<file_get_region_fn>(file->self_api[SLOT_FILE_GET_REGION]);
    if (!get_region) return head;
    head.data = get_region(file, REGION_HEAD, &head.size);
    if (!head.data) head.size = 0;
    return head;
}

// A slot of the file's own table, or null when the table is missing.
template <class Fn> Fn self_slot(const scan_file *file, int number) {
    return file->self_api ? reinterpret_cast<Fn>(file->self_api[number]) : nullptr;
}

// Section header fields.
inline uint32_t section_virtual_size(const uint8_t *s) { return load_le32(s + PE_SECTION_VIRTUAL_SIZE); }
inline uint32_t section_virtual_address(const uint8_t *s) { return load_le32(s + PE_SECTION_VIRTUAL_ADDRESS); }
inline uint32_t section_raw_size(const uint8_t *s) { return load_le32(s + PE_SECTION_SIZE_OF_RAW_DATA); }
inline uint32_t section_raw_pointer(const uint8_t *s) { return load_le32(s + PE_SECTION_POINTER_TO_RAW_DATA); }

}  // namespace kq
