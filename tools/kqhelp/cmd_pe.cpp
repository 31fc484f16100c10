// kqhelp pe: the MS-DOS and NT headers, the section table, the entry-point
// offsets and the overlay of PE files (the NE signature for NE files).
#include <inttypes.h>
#include <string.h>

#include <string>
#include <vector>

#include "tool.h"

namespace kqtool {
namespace {

uint16_t le16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t *p) { return uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24); }
uint64_t le64(const uint8_t *p) { return le32(p) | uint64_t(le32(p + 4)) << 32; }

struct pe_summary {
    const char *format = nullptr;  // "PE32", "PE32+", "NE"
    uint32_t lfanew = 0;
    const uint8_t *nt = nullptr;
    const uint8_t *sections = nullptr;
    uint32_t count = 0;
    int64_t entry_raw = -1, entry_aligned = -1;
    uint64_t overlay_offset = 0, overlay_size = 0;
};

// The entry point over the table as stored and over a copy whose raw-data
// pointers are rounded down to FileAlignment, as the windows place it.
void entry_offsets(tool &t, pe_summary &s) {
    auto rva_to_offset = t.slot<pe_rva_to_offset_ex_fn>(SLOT_PE_RVA_TO_OFFSET_EX);
    uint32_t entry = le32(s.nt + PE_NT_ADDRESS_OF_ENTRY_POINT);
    if (s.count) s.entry_raw = int32_t(rva_to_offset(int32_t(s.count), s.sections, entry));
    std::vector<uint8_t> copy(s.sections, s.sections + uint64_t(s.count) * PE_SECTION_HEADER_SIZE);
    uint32_t fa = le32(s.nt + PE_NT_FILE_ALIGNMENT);
    for (uint32_t i = 0; fa && i < s.count; i++) {
        uint8_t *h = copy.data() + uint64_t(i) * PE_SECTION_HEADER_SIZE;
        uint32_t p = le32(h + PE_SECTION_POINTER_TO_RAW_DATA);
        if ((p & 0x1FF) == 0 || p / fa * fa == p) continue;
        uint32_t size = (le32(h + PE_SECTION_SIZE_OF_RAW_DATA) + fa - 1) / fa * fa, rounded = p / fa * fa;
        memcpy(h + PE_SECTION_SIZE_OF_RAW_DATA, &size, 4);
        memcpy(h + PE_SECTION_POINTER_TO_RAW_DATA, &rounded, 4);
    }
    if (s.sections) s.entry_aligned = int32_t(rva_to_offset(int32_t(s.count), copy.data(), entry));
}

// Fills the summary, or returns the one-line reason the file is not usable.
const char *summarise(tool &t, scan_file *file, pe_summary &s) {
    const uint8_t *dos = t.slot<pe_get_dos_header_fn>(SLOT_PE_GET_DOS_HEADER)(file);
    if (!dos) return "not an MS-DOS executable (no MZ signature, or shorter than 64 bytes)";
    s.lfanew = le32(dos + PE_DOS_E_LFANEW);
    if ((s.nt = t.slot<pe_get_nt_headers32_fn>(SLOT_PE_GET_NT_HEADERS32)(file))) {
        s.format = "PE32";
        s.sections = t.slot<pe_get_sections32_fn>(SLOT_PE_GET_SECTIONS32)(file, &s.count);
    } else if ((s.nt = t.slot<pe_get_nt_headers64_fn>(SLOT_PE_GET_NT_HEADERS64)(file))) {
        s.format = "PE32+";
        s.sections = t.slot<pe_get_sections64_fn>(SLOT_PE_GET_SECTIONS64)(file, &s.count);
    } else if (t.slot<pe_get_ne_header_fn>(SLOT_PE_GET_NE_HEADER)(file)) {
        s.format = "NE";
        return nullptr;
    } else {
        return "no PE32, PE32+ or NE header at e_lfanew (truncated or malformed)";
    }
    if (!s.sections) s.count = 0;
    if (le16(s.nt + PE_NT_NUMBER_OF_SECTIONS) && !s.sections) return "the section table cannot be read";
    entry_offsets(t, s);
    s.overlay_offset = t.slot<pe_get_overlay_fn>(SLOT_PE_GET_OVERLAY)(file, &s.overlay_size);
    return nullptr;
}

std::string section_name(const uint8_t *h) {
    char name[9] = {};
    memcpy(name, h + PE_SECTION_NAME, 8);
    return name;
}

uint64_t image_base(const pe_summary &s) {
    return strcmp(s.format, "PE32") == 0 ? le32(s.nt + PE_NT32_IMAGE_BASE) : le64(s.nt + PE_NT64_IMAGE_BASE);
}

std::string offset_text(int64_t v, bool json) {
    char buf[32];
    if (v < 0) return json ? "null" : "none";
    snprintf(buf, sizeof buf, json ? "%" PRId64 : "0x%" PRIx64, v);
    return buf;
}

void print_text(const char *path, const pe_summary &s) {
    printf("%s: %s, e_lfanew 0x%x\n", path, s.format, s.lfanew);
    if (!s.nt) return;
    const uint8_t *nt = s.nt;
    printf("  machine 0x%04x, %u sections, optional header %u bytes, characteristics 0x%04x\n",
           le16(nt + PE_NT_MACHINE), le16(nt + PE_NT_NUMBER_OF_SECTIONS), le16(nt + PE_NT_SIZE_OF_OPTIONAL_HEADER),
           le16(nt + PE_NT_CHARACTERISTICS));
    printf("  magic 0x%03x, entry point RVA 0x%x, image base 0x%" PRIx64 ", subsystem %u\n", le16(nt + PE_NT_MAGIC),
           le32(nt + PE_NT_ADDRESS_OF_ENTRY_POINT), image_base(s), le16(nt + PE_NT_SUBSYSTEM));
    printf("  section alignment 0x%x, file alignment 0x%x, size of image 0x%x, size of headers 0x%x\n",
           le32(nt + PE_NT_SECTION_ALIGNMENT), le32(nt + PE_NT_FILE_ALIGNMENT), le32(nt + PE_NT_SIZE_OF_IMAGE),
           le32(nt + PE_NT_SIZE_OF_HEADERS));
    printf("  entry offset raw %s, aligned %s\n", offset_text(s.entry_raw, false).c_str(),
           offset_text(s.entry_aligned, false).c_str());
    printf("  overlay offset 0x%" PRIx64 ", size %" PRIu64 "\n", s.overlay_offset, s.overlay_size);
    printf("  %-3s %-8s %-10s %-10s %-10s %-10s %s\n", "#", "name", "vaddr", "vsize", "rawptr", "rawsize", "flags");
    for (uint32_t i = 0; i < s.count; i++) {
        const uint8_t *h = s.sections + uint64_t(i) * PE_SECTION_HEADER_SIZE;
        std::string name = section_name(h);
        for (char &c : name)
            if (c < 0x20 || c > 0x7E) c = '?';
        printf("  %-3u %-8s 0x%08x 0x%08x 0x%08x 0x%08x 0x%08x\n", i, name.c_str(),
               le32(h + PE_SECTION_VIRTUAL_ADDRESS), le32(h + PE_SECTION_VIRTUAL_SIZE),
               le32(h + PE_SECTION_POINTER_TO_RAW_DATA), le32(h + PE_SECTION_SIZE_OF_RAW_DATA),
               le32(h + PE_SECTION_CHARACTERISTICS));
    }
}

// One JSON object per line, so that many files stream well.
void print_json(const char *path, const pe_summary &s, const char *error) {
    std::string out = "{\"file\":" + json_string(path);
    auto field = [&](const char *name, uint64_t v) { out += ",\"" + std::string(name) + "\":" + std::to_string(v); };
    if (error) {
        out += ",\"error\":" + json_string(error);
    } else {
        out += ",\"format\":" + json_string(s.format);
        field("e_lfanew", s.lfanew);
    }
    if (!error && s.nt) {
        const uint8_t *nt = s.nt;
        field("machine", le16(nt + PE_NT_MACHINE));
        field("number_of_sections", le16(nt + PE_NT_NUMBER_OF_SECTIONS));
        field("size_of_optional_header", le16(nt + PE_NT_SIZE_OF_OPTIONAL_HEADER));
        field("characteristics", le16(nt + PE_NT_CHARACTERISTICS));
        field("magic", le16(nt + PE_NT_MAGIC));
        field("entry_point", le32(nt + PE_NT_ADDRESS_OF_ENTRY_POINT));
        field("image_base", image_base(s));
        field("section_alignment", le32(nt + PE_NT_SECTION_ALIGNMENT));
        field("file_alignment", le32(nt + PE_NT_FILE_ALIGNMENT));
        field("size_of_image", le32(nt + PE_NT_SIZE_OF_IMAGE));
        field("size_of_headers", le32(nt + PE_NT_SIZE_OF_HEADERS));
        field("subsystem", le16(nt + PE_NT_SUBSYSTEM));
        out += ",\"entry_offset_raw\":" + offset_text(s.entry_raw, true);
        out += ",\"entry_offset_aligned\":" + offset_text(s.entry_aligned, true);
        field("overlay_offset", s.overlay_offset);
        field("overlay_size", s.overlay_size);
        out += ",\"sections\":[";
        for (uint32_t i = 0; i < s.count; i++) {
            const uint8_t *h = s.sections + uint64_t(i) * PE_SECTION_HEADER_SIZE;
            char buf[200];
            snprintf(buf, sizeof buf,
                     "%s{\"name\":%s,\"virtual_address\":%u,\"virtual_size\":%u,\"raw_pointer\":%u,\"raw_size\":%u,"
                     "\"characteristics\":%u}",
                     i ? "," : "", json_string(section_name(h).c_str()).c_str(),
                     le32(h + PE_SECTION_VIRTUAL_ADDRESS), le32(h + PE_SECTION_VIRTUAL_SIZE),
                     le32(h + PE_SECTION_POINTER_TO_RAW_DATA), le32(h + PE_SECTION_SIZE_OF_RAW_DATA),
                     le32(h + PE_SECTION_CHARACTERISTICS));
            out += buf;
        }
        out += "]";
    }
    puts((out + "}").c_str());
}

}  // namespace

int cmd_pe(tool &t, int argc, char **argv) {
    bool json = false;
    int first = 1;
    if (argc > 1 && strcmp(argv[1], "--json") == 0) {
        json = true;
        first = 2;
    }
    if (first >= argc) {
        fprintf(stderr, "usage: kqhelp pe [--json] FILE...\n");
        return EXIT_USAGE;
    }
    return t.for_each_file(argc - first, argv + first, [&](const char *path, scan_file *file, uint32_t) {
        pe_summary s;
        const char *error = summarise(t, file, s);
        if (error) t.error(path, "%s", error);
        if (json)
            print_json(path, s, error);
        else if (!error)
            print_text(path, s);
        fflush(stdout);
        return error == nullptr;
    });
}

}  // namespace kqtool
