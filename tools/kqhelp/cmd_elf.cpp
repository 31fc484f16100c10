// kqhelp elf: what the ELF reader sees in each file (header, sections with
// names, program headers, image base), laid out like `readelf -W`, or as JSON.
#include <inttypes.h>
#include <string.h>

#include <string>

#include "tool.h"

namespace kqtool {
namespace {

struct elf_api {
    elf_reader_get_fn get;
    elf_check_fn check;
    elf_get_class_fn get_class;
    elf_get_encoding_fn get_encoding;
    elf_get_header_fn header;
    elf_get_section_count_fn section_count;
    elf_get_section_table_fn sections;
    elf_get_section_name_fn section_name;
    elf_get_segment_table_fn segments;
    elf_get_image_base_fn image_base;
    elf_get_file_offset_by_virtual_address_fn va_to_offset;
    elf_get_virtual_address_by_file_offset_fn offset_to_va;
    elf_get_last_error_fn last_error;

    explicit elf_api(const tool &t)
        : get(t.slot<elf_reader_get_fn>(SLOT_ELF_READER_GET)),
          check(t.slot<elf_check_fn>(SLOT_ELF_CHECK)),
          get_class(t.slot<elf_get_class_fn>(SLOT_ELF_GET_CLASS)),
          get_encoding(t.slot<elf_get_encoding_fn>(SLOT_ELF_GET_ENCODING)),
          header(t.slot<elf_get_header_fn>(SLOT_ELF_GET_HEADER)),
          section_count(t.slot<elf_get_section_count_fn>(SLOT_ELF_GET_SECTION_COUNT)),
          sections(t.slot<elf_get_section_table_fn>(SLOT_ELF_GET_SECTION_TABLE)),
          section_name(t.slot<elf_get_section_name_fn>(SLOT_ELF_GET_SECTION_NAME)),
          segments(t.slot<elf_get_segment_table_fn>(SLOT_ELF_GET_SEGMENT_TABLE)),
          image_base(t.slot<elf_get_image_base_fn>(SLOT_ELF_GET_IMAGE_BASE)),
          va_to_offset(t.slot<elf_get_file_offset_by_virtual_address_fn>(SLOT_ELF_GET_FILE_OFFSET_BY_VIRTUAL_ADDRESS)),
          offset_to_va(t.slot<elf_get_virtual_address_by_file_offset_fn>(SLOT_ELF_GET_VIRTUAL_ADDRESS_BY_FILE_OFFSET)),
          last_error(t.slot<elf_get_last_error_fn>(SLOT_ELF_GET_LAST_ERROR)) {}
};

const char *error_text(int32_t code) {
    switch (code) {
    case ELF_ERR_NO_MEMORY: return "out of memory";
    case ELF_ERR_SEEK: return "seek failed";
    case ELF_ERR_READ: return "read failed";
    case ELF_ERR_INDEX: return "index out of range";
    case ELF_ERR_OFFSET: return "offset beyond the file or not mapped";
    case ELF_ERR_ADDRESS: return "address not mapped";
    case ELF_ERR_VERSION: return "e_version is not 1";
    case ELF_ERR_NO_SECTION: return "no such section";
    case ELF_ERR_NO_SEGMENT: return "no such segment";
    case ELF_ERR_HEADER_SIZE: return "wrong header or entry size";
    case ELF_ERR_MAGIC: return "bad magic";
    case ELF_ERR_CLASS: return "bad EI_CLASS";
    case ELF_ERR_DATA: return "bad EI_DATA";
    case ELF_ERR_IDENT_VERSION: return "bad EI_VERSION";
    case ELF_ERR_TYPE: return "e_type is not REL, EXEC, DYN or CORE";
    case ELF_ERR_NO_TABLES: return "inconsistent or missing header tables";
    case ELF_ERR_NO_SECTION_TABLE: return "no section header table";
    case ELF_ERR_NO_SEGMENT_TABLE: return "no program header table";
    case ELF_ERR_NO_SECTION_NAMES: return "no section-name table";
    default: return "truncated or unreadable";
    }
}

const char *type_name(uint16_t type) {
    static const char *const names[] = {"NONE (None)", "REL (Relocatable file)", "EXEC (Executable file)",
                                        "DYN (Shared object file)", "CORE (Core file)"};
    return type < 5 ? names[type] : "unknown";
}

std::string section_type(uint32_t type) {
    static const char *const names[] = {"NULL",     "PROGBITS", "SYMTAB",     "STRTAB",       "RELA",
                                        "HASH",     "DYNAMIC",  "NOTE",       "NOBITS",       "REL",
                                        "SHLIB",    "DYNSYM",   nullptr,      nullptr,        "INIT_ARRAY",
                                        "FINI_ARRAY", "PREINIT_ARRAY", "GROUP", "SYMTAB_SECTION_INDICES", "RELR"};
    if (type < sizeof names / sizeof names[0] && names[type]) return names[type];
    switch (type) {
    case 0x6ffffff6: return "GNU_HASH";
    case 0x6ffffffd: return "VERDEF";
    case 0x6ffffffe: return "VERNEED";
    case 0x6fffffff: return "VERSYM";
    default: break;
    }
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08" PRIx32, type);
    return buf;
}

std::string segment_type(uint32_t type) {
    static const char *const names[] = {"NULL", "LOAD", "DYNAMIC", "INTERP", "NOTE", "SHLIB", "PHDR", "TLS"};
    if (type < 8) return names[type];
    switch (type) {
    case 0x6474e550: return "GNU_EH_FRAME";
    case 0x6474e551: return "GNU_STACK";
    case 0x6474e552: return "GNU_RELRO";
    case 0x6474e553: return "GNU_PROPERTY";
    default: break;
    }
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08" PRIx32, type);
    return buf;
}

std::string section_flags(uint64_t flags) {
    static const char letters[] = "WAX?MSILOGTC";  // bits 0-11; bit 3 is unused
    std::string out;
    for (int bit = 0; bit < 12; bit++)
        if ((flags >> bit) & 1 && letters[bit] != '?') out += letters[bit];
    if (flags & (1ull << 31)) out += 'E';
    return out;
}

std::string segment_flags(uint32_t flags) {
    std::string out;
    out += (flags & 4) ? 'R' : ' ';
    out += (flags & 2) ? 'W' : ' ';
    out += (flags & 1) ? 'E' : ' ';
    return out;
}

struct options {
    bool json = false;
    bool translate = false;
    uint64_t address = 0;
};

// What the reader answered for one file, gathered before anything is printed.
struct view {
    const elf_header *h = nullptr;
    uint32_t elf_class = 0, encoding = 0;
    uint32_t declared_sections = 0;
    const elf_section *sections = nullptr;
    uint32_t section_count = 0;
    const elf_segment *segments = nullptr;
    uint32_t segment_count = 0;
    uint64_t image_base = ~0ull;
    bool va_ok = false, offset_ok = false;
    uint64_t va_to_offset = 0, offset_to_va = 0;
};

// Loads what the reader offers; false with a message in *why when the file
// is not one the reader can describe.
bool gather(const elf_api &api, scan_file *file, const options &opt, view &v, elf_reader **out, std::string *why) {
    elf_reader *r = api.get(file);
    *out = r;
    if (!r) {
        *why = "not an ELF file";
        return false;
    }
    int32_t checked = api.check(r, 1);
    if (checked != 1) {
        int32_t code = api.last_error(r);
        *why = std::string(checked == 0 ? "not a valid ELF file: " : "unreadable ELF header: ") + error_text(code) +
               " (code " + std::to_string(code) + ")";
        return false;
    }
    if (api.header(r, &v.h) != 0) {
        *why = "unreadable ELF header";
        return false;
    }
    v.elf_class = api.get_class(r);
    v.encoding = api.get_encoding(r);
    if (v.h->e_shoff != 0) {
        v.declared_sections = api.section_count(r);
        if (api.sections(r, &v.sections, &v.section_count) != 0) {
            int32_t code = api.last_error(r);
            *why = std::string("section header table: ") + error_text(code) + " (code " + std::to_string(code) + ")";
            return false;
        }
    }
    if (v.h->e_phoff != 0 && v.h->e_phnum != 0) {
        if (api.segments(r, &v.segments, &v.segment_count) != 0) {
            int32_t code = api.last_error(r);
            *why = std::string("program header table: ") + error_text(code) + " (code " + std::to_string(code) + ")";
            return false;
        }
    }
    v.image_base = api.image_base(r);
    api.last_error(r);
    if (opt.translate) {
        v.va_to_offset = api.va_to_offset(r, opt.address);
        v.va_ok = api.last_error(r) == 0;
        v.offset_to_va = api.offset_to_va(r, opt.address);
        v.offset_ok = api.last_error(r) == 0;
    }
    return true;
}

const char *name_of(const elf_api &api, elf_reader *r, const elf_section &s) {
    const char *name = api.section_name(r, &s);
    api.last_error(r);  // a missing name table is not an error of the listing
    return name ? name : "";
}

void print_text(const elf_api &api, elf_reader *r, const char *path, const view &v, const options &opt) {
    const elf_header &h = *v.h;
    bool wide = v.elf_class != 1;
    printf("File: %s\n\nELF Header:\n  Magic:  ", path);
    for (uint8_t b : h.e_ident) printf(" %02x", b);
    printf("\n  Class:                             %s\n", v.elf_class == 1 ? "ELF32" : "ELF64");
    printf("  Data:                              2's complement, %s endian\n", v.encoding == 1 ? "little" : "big");
    printf("  Type:                              %s\n", type_name(h.e_type));
    printf("  Machine:                           %" PRIu16 "\n", h.e_machine);
    printf("  Version:                           0x%" PRIx32 "\n", h.e_version);
    printf("  Entry point address:               0x%" PRIx64 "\n", h.e_entry);
    printf("  Start of program headers:          %" PRIu64 " (bytes into file)\n", h.e_phoff);
    printf("  Start of section headers:          %" PRIu64 " (bytes into file)\n", h.e_shoff);
    printf("  Flags:                             0x%" PRIx32 "\n", h.e_flags);
    printf("  Size of this header:               %" PRIu16 " (bytes)\n", h.e_ehsize);
    printf("  Size of program headers:           %" PRIu16 " (bytes)\n", h.e_phentsize);
    printf("  Number of program headers:         %" PRIu16 "\n", h.e_phnum);
    printf("  Size of section headers:           %" PRIu16 " (bytes)\n", h.e_shentsize);
    printf("  Number of section headers:         %" PRIu16, h.e_shnum);
    if (h.e_shnum == 0 && v.declared_sections) printf(" (%" PRIu32 ")", v.declared_sections);
    printf("\n  Section header string table index: %" PRIu16 "\n", h.e_shstrndx);

    if (v.section_count == 0) {
        printf("\nThere are no sections in this file.\n");
    } else {
        printf("\nSection Headers:\n");
        printf(wide ? "  [Nr] Name              Type            Address          Off    Size   ES Flg Lk Inf Al\n"
                    : "  [Nr] Name              Type            Addr     Off    Size   ES Flg Lk Inf Al\n");
        for (uint32_t i = 0; i < v.section_count; i++) {
            const elf_section &s = v.sections[i];
            printf("  [%2" PRIu32 "] %-17s %-15s %0*" PRIx64 " %06" PRIx64 " %06" PRIx64 " %02" PRIx64
                   " %3s %2" PRIu32 " %3" PRIu32 " %2" PRIu64 "\n",
                   i, name_of(api, r, s), section_type(s.sh_type).c_str(), wide ? 16 : 8, s.sh_addr, s.sh_offset,
                   s.sh_size, s.sh_entsize, section_flags(s.sh_flags).c_str(), s.sh_link, s.sh_info, s.sh_addralign);
        }
        if (v.declared_sections > v.section_count)
            printf("  (%" PRIu32 " sections declared, the first %" PRIu32 " read)\n", v.declared_sections,
                   v.section_count);
    }

    if (v.segment_count == 0) {
        printf("\nThere are no program headers in this file.\n");
    } else {
        printf("\nProgram Headers:\n");
        printf(wide ? "  Type           Offset   VirtAddr           PhysAddr           FileSiz  MemSiz   Flg Align\n"
                    : "  Type           Offset   VirtAddr   PhysAddr   FileSiz MemSiz  Flg Align\n");
        for (uint32_t i = 0; i < v.segment_count; i++) {
            const elf_segment &p = v.segments[i];
            if (wide)
                printf("  %-14s 0x%06" PRIx64 " 0x%016" PRIx64 " 0x%016" PRIx64 " 0x%06" PRIx64 " 0x%06" PRIx64
                       " %s 0x%" PRIx64 "\n",
                       segment_type(p.p_type).c_str(), p.p_offset, p.p_vaddr, p.p_paddr, p.p_filesz, p.p_memsz,
                       segment_flags(p.p_flags).c_str(), p.p_align);
            else
                printf("  %-14s 0x%06" PRIx64 " 0x%08" PRIx64 " 0x%08" PRIx64 " 0x%05" PRIx64 " 0x%05" PRIx64
                       " %s 0x%" PRIx64 "\n",
                       segment_type(p.p_type).c_str(), p.p_offset, p.p_vaddr, p.p_paddr, p.p_filesz, p.p_memsz,
                       segment_flags(p.p_flags).c_str(), p.p_align);
        }
    }

    if (v.image_base == ~0ull)
        printf("\nImage base: none (no loadable segment)\n");
    else
        printf("\nImage base: 0x%" PRIx64 "\n", v.image_base);
    if (opt.translate) {
        if (v.va_ok)
            printf("Virtual address 0x%" PRIx64 " is at file offset 0x%" PRIx64 "\n", opt.address, v.va_to_offset);
        else
            printf("Virtual address 0x%" PRIx64 " is not mapped by the file\n", opt.address);
        if (v.offset_ok)
            printf("File offset 0x%" PRIx64 " is at virtual address 0x%" PRIx64 "\n", opt.address, v.offset_to_va);
        else
            printf("File offset 0x%" PRIx64 " is not mapped to memory\n", opt.address);
    }
}

void print_json(const elf_api &api, elf_reader *r, const char *path, const view &v, const options &opt,
                bool first) {
    const elf_header &h = *v.h;
    printf("%s{\"file\": %s, \"class\": %" PRIu32 ", \"encoding\": %" PRIu32 ",\n", first ? "" : ",\n",
           json_string(path).c_str(), v.elf_class, v.encoding);
    printf(" \"header\": {\"type\": %u, \"machine\": %u, \"version\": %" PRIu32 ", \"entry\": %" PRIu64
           ", \"phoff\": %" PRIu64 ", \"shoff\": %" PRIu64 ", \"flags\": %" PRIu32
           ", \"ehsize\": %u, \"phentsize\": %u, \"phnum\": %u, \"shentsize\": %u, \"shnum\": %u, \"shstrndx\": %u},\n",
           h.e_type, h.e_machine, h.e_version, h.e_entry, h.e_phoff, h.e_shoff, h.e_flags, h.e_ehsize,
           h.e_phentsize, h.e_phnum, h.e_shentsize, h.e_shnum, h.e_shstrndx);
    printf(" \"section_count\": %" PRIu32 ",\n \"sections\": [", v.declared_sections);
    for (uint32_t i = 0; i < v.section_count; i++) {
        const elf_section &s = v.sections[i];
        const char *name = api.section_name(r, &s);
        api.last_error(r);
        printf("%s\n  {\"name\": %s, \"name_offset\": %" PRIu32 ", \"type\": %" PRIu32 ", \"flags\": %" PRIu64 ", \"addr\": %" PRIu64
               ", \"offset\": %" PRIu64 ", \"size\": %" PRIu64 ", \"link\": %" PRIu32 ", \"info\": %" PRIu32
               ", \"addralign\": %" PRIu64 ", \"entsize\": %" PRIu64 "}",
               i ? "," : "", name ? json_string(name).c_str() : "null", s.sh_name, s.sh_type, s.sh_flags, s.sh_addr,
               s.sh_offset, s.sh_size, s.sh_link, s.sh_info, s.sh_addralign, s.sh_entsize);
    }
    printf("],\n \"segments\": [");
    for (uint32_t i = 0; i < v.segment_count; i++) {
        const elf_segment &p = v.segments[i];
        printf("%s\n  {\"type\": %" PRIu32 ", \"flags\": %" PRIu32 ", \"offset\": %" PRIu64 ", \"vaddr\": %" PRIu64
               ", \"paddr\": %" PRIu64 ", \"filesz\": %" PRIu64 ", \"memsz\": %" PRIu64 ", \"align\": %" PRIu64 "}",
               i ? "," : "", p.p_type, p.p_flags, p.p_offset, p.p_vaddr, p.p_paddr, p.p_filesz, p.p_memsz,
               p.p_align);
    }
    printf("],\n \"image_base\": ");
    if (v.image_base == ~0ull)
        printf("null");
    else
        printf("%" PRIu64, v.image_base);
    if (opt.translate) {
        printf(",\n \"translate\": {\"address\": %" PRIu64 ", \"file_offset_of_virtual\": ", opt.address);
        v.va_ok ? printf("%" PRIu64, v.va_to_offset) : printf("null");
        printf(", \"virtual_of_file_offset\": ");
        v.offset_ok ? printf("%" PRIu64, v.offset_to_va) : printf("null");
        printf("}");
    }
    printf("}");
}

}  // namespace

int cmd_elf(tool &t, int argc, char **argv) {
    options opt;
    int first_file = 1;
    for (; first_file < argc && argv[first_file][0] == '-'; first_file++) {
        const char *a = argv[first_file];
        if (strcmp(a, "--json") == 0) {
            opt.json = true;
        } else if (strcmp(a, "--translate") == 0 && first_file + 1 < argc &&
                   parse_u64(argv[first_file + 1], &opt.address)) {
            opt.translate = true;
            first_file++;
        } else {
            first_file = argc;  // falls into the usage message
            break;
        }
    }
    if (first_file >= argc) {
        fprintf(stderr, "usage: kqhelp elf [--json] [--translate ADDR] FILE...\n");
        return EXIT_USAGE;
    }

    elf_api api(t);
    bool first = true;
    if (opt.json) printf("[");
    int status = t.for_each_file(argc - first_file, argv + first_file, [&](const char *path, scan_file *file, uint32_t) {
        view v;
        elf_reader *r = nullptr;
        std::string why;
        bool ok = gather(api, file, opt, v, &r, &why);
        if (!ok) {
            t.error(path, "%s", why.c_str());
        } else if (opt.json) {
            print_json(api, r, path, v, opt, first);
            first = false;
        } else {
            if (!first) printf("\n");
            print_text(api, r, path, v, opt);
            first = false;
        }
        fflush(stdout);
        return ok;
    });
    if (opt.json) printf("]\n");
    return status;
}

}  // namespace kqtool
