// kqhelp pe: the MS-DOS and NT headers, the section table, the entry-point
// offsets and the overlay of PE files (the NE signature for NE files).
#include <inttypes.h>

#include "commands.h"
#include "formats.h"

namespace kqtool {
namespace {

std::string section_name(const uint8_t *h) { return std::string(reinterpret_cast<const char *>(h), strnlen(reinterpret_cast<const char *>(h), 8)); }

std::string offset_text(int64_t v) { return v < 0 ? "none" : hex(uint64_t(v)); }

void print_text(const char *path, const pe_summary &s) {
    printf("%s: %s, e_lfanew 0x%x\n", shown(path).c_str(), s.format, s.lfanew);
    if (!s.nt) return;
    const uint8_t *nt = s.nt;
    printf("  machine 0x%04x, %u sections, optional header %u bytes, characteristics 0x%04x\n",
           load_le16(nt + PE_NT_MACHINE), load_le16(nt + PE_NT_NUMBER_OF_SECTIONS), load_le16(nt + PE_NT_SIZE_OF_OPTIONAL_HEADER),
           load_le16(nt + PE_NT_CHARACTERISTICS));
    printf("  magic 0x%03x, entry point RVA 0x%x, image base 0x%" PRIx64 ", subsystem %u\n", load_le16(nt + PE_NT_MAGIC),
           load_le32(nt + PE_NT_ADDRESS_OF_ENTRY_POINT), image_base(s), load_le16(nt + PE_NT_SUBSYSTEM));
    printf("  section alignment 0x%x, file alignment 0x%x, size of image 0x%x, size of headers 0x%x\n",
           load_le32(nt + PE_NT_SECTION_ALIGNMENT), load_le32(nt + PE_NT_FILE_ALIGNMENT), load_le32(nt + PE_NT_SIZE_OF_IMAGE),
           load_le32(nt + PE_NT_SIZE_OF_HEADERS));
    printf("  entry offset raw %s, aligned %s\n", offset_text(s.entry_raw).c_str(), offset_text(s.entry_aligned).c_str());
    printf("  overlay offset 0x%" PRIx64 ", size %" PRIu64 "\n", s.overlay_offset, s.overlay_size);
    printf("  %-3s %-8s %-10s %-10s %-10s %-10s %s\n", "#", "name", "vaddr", "vsize", "rawptr", "rawsize", "flags");
    for (uint32_t i = 0; i < s.count; i++) {
        const uint8_t *h = s.sections + uint64_t(i) * PE_SECTION_HEADER_SIZE;
        printf("  %-3u %-8s 0x%08x 0x%08x 0x%08x 0x%08x 0x%08x\n", i, shown(section_name(h)).c_str(),
               load_le32(h + PE_SECTION_VIRTUAL_ADDRESS), load_le32(h + PE_SECTION_VIRTUAL_SIZE),
               load_le32(h + PE_SECTION_POINTER_TO_RAW_DATA), load_le32(h + PE_SECTION_SIZE_OF_RAW_DATA),
               load_le32(h + PE_SECTION_CHARACTERISTICS));
    }
}

std::string as_json(const tool &t, const char *path, const pe_summary &s) {
    json j = record(t, path);
    j.str("format", s.format).hex("e_lfanew", s.lfanew);
    if (!s.nt) return j.text();
    const uint8_t *nt = s.nt;
    j.num("machine", load_le16(nt + PE_NT_MACHINE)).num("number_of_sections", load_le16(nt + PE_NT_NUMBER_OF_SECTIONS))
        .num("size_of_optional_header", load_le16(nt + PE_NT_SIZE_OF_OPTIONAL_HEADER))
        .hex("characteristics", load_le16(nt + PE_NT_CHARACTERISTICS)).hex("magic", load_le16(nt + PE_NT_MAGIC))
        .hex("entry_point", load_le32(nt + PE_NT_ADDRESS_OF_ENTRY_POINT)).hex("image_base", image_base(s))
        .num("section_alignment", load_le32(nt + PE_NT_SECTION_ALIGNMENT))
        .num("file_alignment", load_le32(nt + PE_NT_FILE_ALIGNMENT)).num("size_of_image", load_le32(nt + PE_NT_SIZE_OF_IMAGE))
        .num("size_of_headers", load_le32(nt + PE_NT_SIZE_OF_HEADERS)).num("subsystem", load_le16(nt + PE_NT_SUBSYSTEM));
    for (auto [key, v] : {std::pair{"entry_offset_raw", s.entry_raw}, std::pair{"entry_offset_aligned", s.entry_aligned}})
        v < 0 ? j.null(key) : j.hex(key, uint64_t(v));
    j.hex("overlay_offset", s.overlay_offset).num("overlay_size", s.overlay_size);
    std::vector<std::string> sections;
    for (uint32_t i = 0; i < s.count; i++) {
        const uint8_t *h = s.sections + uint64_t(i) * PE_SECTION_HEADER_SIZE;
        sections.push_back(json().str("name", section_name(h)).hex("virtual_address", load_le32(h + PE_SECTION_VIRTUAL_ADDRESS))
                               .num("virtual_size", load_le32(h + PE_SECTION_VIRTUAL_SIZE))
                               .hex("raw_pointer", load_le32(h + PE_SECTION_POINTER_TO_RAW_DATA))
                               .num("raw_size", load_le32(h + PE_SECTION_SIZE_OF_RAW_DATA))
                               .hex("characteristics", load_le32(h + PE_SECTION_CHARACTERISTICS)).text());
    }
    return j.raw("sections", json_list(sections)).text();
}

int run(tool &t, const arguments &a) {
    t.for_each_file(a, [&](const char *path, scan_file *file, uint32_t) {
        pe_summary s;
        if (const char *error = summarise_pe(t, file, s)) t.fail(path, "%s", error);
        else if (t.json) t.emit(as_json(t, path, s));
        else print_text(path, s);
        fflush(stdout);
    });
    return EXIT_OK;
}

}  // namespace

extern const command cmd_pe = {"pe", "FILE...", "MS-DOS/NT headers, sections, entry points and overlay of PE files",
                               nullptr, 1, -1, outcome::report, run};

}  // namespace kqtool
