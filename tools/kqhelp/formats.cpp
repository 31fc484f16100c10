#include "formats.h"

#include <vector>

namespace kqtool {
namespace {

// The entry point over the table as stored and over a copy whose raw-data
// pointers are rounded down to FileAlignment, as the windows place it.
void entry_offsets(const tool &t, pe_summary &s) {
    const uint32_t entry = load_le32(s.nt + PE_NT_ADDRESS_OF_ENTRY_POINT);
    if (s.count) s.entry_raw = int32_t(t.call<SLOT_PE_RVA_TO_OFFSET_EX>(int32_t(s.count), s.sections, entry));
    std::vector<uint8_t> copy(s.sections, s.sections + uint64_t(s.count) * PE_SECTION_HEADER_SIZE);
    const uint32_t fa = load_le32(s.nt + PE_NT_FILE_ALIGNMENT);
    for (uint32_t i = 0; fa && i < s.count; i++) {
        uint8_t *h = copy.data() + uint64_t(i) * PE_SECTION_HEADER_SIZE;
        const uint32_t p = load_le32(h + PE_SECTION_POINTER_TO_RAW_DATA);
        if ((p & 0x1FF) == 0 || p / fa * fa == p) continue;
        const uint32_t size = (load_le32(h + PE_SECTION_SIZE_OF_RAW_DATA) + fa - 1) / fa * fa, rounded = p / fa * fa;
        memcpy(h + PE_SECTION_SIZE_OF_RAW_DATA, &size, 4);
        memcpy(h + PE_SECTION_POINTER_TO_RAW_DATA, &rounded, 4);
    }
    if (s.sections) s.entry_aligned = int32_t(t.call<SLOT_PE_RVA_TO_OFFSET_EX>(int32_t(s.count), copy.data(), entry));
}

const char *elf_format(uint32_t elf_class, uint32_t encoding) {
    static const char *const names[2][2] = {{"ELF32 LE", "ELF32 BE"}, {"ELF64 LE", "ELF64 BE"}};
    if ((elf_class != 1 && elf_class != 2) || (encoding != 1 && encoding != 2)) return nullptr;
    return names[elf_class - 1][encoding - 1];
}

}  // namespace

const char *summarise_pe(const tool &t, scan_file *file, pe_summary &s) {
    s.dos = t.call<SLOT_PE_GET_DOS_HEADER>(file);
    if (!s.dos) return "not an MS-DOS executable (no MZ signature, or shorter than 64 bytes)";
    s.lfanew = load_le32(s.dos + PE_DOS_E_LFANEW);
    if ((s.nt = t.call<SLOT_PE_GET_NT_HEADERS32>(file))) {
        s.format = "PE32";
        s.sections = t.call<SLOT_PE_GET_SECTIONS32>(file, &s.count);
    } else if ((s.nt = t.call<SLOT_PE_GET_NT_HEADERS64>(file))) {
        s.format = "PE32+";
        s.sections = t.call<SLOT_PE_GET_SECTIONS64>(file, &s.count);
    } else if (t.call<SLOT_PE_GET_NE_HEADER>(file)) {
        s.format = "NE";
        return nullptr;
    } else {
        return "no PE32, PE32+ or NE header at e_lfanew (truncated or malformed)";
    }
    if (!s.sections) s.count = 0;
    if (load_le16(s.nt + PE_NT_NUMBER_OF_SECTIONS) && !s.sections) return "the section table cannot be read";
    entry_offsets(t, s);
    s.overlay_offset = t.call<SLOT_PE_GET_OVERLAY>(file, &s.overlay_size);
    return nullptr;
}

uint64_t image_base(const pe_summary &s) {
    return strcmp(s.format, "PE32") == 0 ? load_le32(s.nt + PE_NT32_IMAGE_BASE) : load_le64(s.nt + PE_NT64_IMAGE_BASE);
}

file_facts identify(const tool &t, scan_file *file) {
    file_facts f;
    pe_summary pe;
    const char *why = summarise_pe(t, file, pe);
    if (!why && pe.nt) {
        f.format = pe.format;
        f.entry_known = pe.entry_raw >= 0;
        f.entry_offset = uint64_t(pe.entry_raw);
        f.has_sections = true;
        f.sections = pe.count;
        f.has_overlay = pe.overlay_size != 0;
        f.overlay_offset = pe.overlay_offset;
        f.overlay_size = pe.overlay_size;
        return f;
    }
    if (pe.format) {  // NE
        f.format = pe.format;
        return f;
    }
    if (pe.dos) {  // the MS-DOS entry: CS:IP past the header paragraphs
        f.format = "MS-DOS";
        f.entry_known = true;
        f.entry_offset = uint64_t(load_le16(pe.dos + 8)) * 16 + (uint64_t(load_le16(pe.dos + 0x16)) * 16 + load_le16(pe.dos + 0x14)) % 0x100000;
        return f;
    }
    elf_reader *r = t.call<SLOT_ELF_READER_GET>(file);
    const elf_header *h = nullptr;
    if (!r || t.call<SLOT_ELF_GET_HEADER>(r, &h) != 0 || !h) return f;
    const char *name = elf_format(t.call<SLOT_ELF_GET_CLASS>(r), t.call<SLOT_ELF_GET_ENCODING>(r));
    if (!name) return f;
    f.format = name;
    f.has_sections = true;
    f.sections = t.call<SLOT_ELF_GET_SECTION_COUNT>(r);
    if (h->e_entry) {
        t.call<SLOT_ELF_GET_LAST_ERROR>(r);
        f.entry_offset = t.call<SLOT_ELF_GET_FILE_OFFSET_BY_VIRTUAL_ADDRESS>(r, h->e_entry);
        f.entry_known = t.call<SLOT_ELF_GET_LAST_ERROR>(r) == 0;
    }
    t.call<SLOT_ELF_GET_LAST_ERROR>(r);
    return f;
}

}  // namespace kqtool
