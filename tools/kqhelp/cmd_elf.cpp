// kqhelp elf: what the ELF reader sees in each file (header, sections with
// names, program headers, image base), laid out like `readelf -W`, or as JSON.
// A file the reader refuses still shows what could be read of it.
#include <inttypes.h>

#include "commands.h"

namespace kqtool {
namespace {

constexpr uint64_t name_table_cap = 32768;  // bytes of section names the reader loads

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

// Small tables of the names readelf prints; other values print as numbers.
struct named {
    uint32_t value;
    const char *name;
};
constexpr named os_abis[] = {{0, "UNIX - System V"}, {1, "UNIX - HP-UX"}, {2, "UNIX - NetBSD"},
                             {3, "UNIX - GNU"},      {6, "UNIX - Solaris"}, {9, "UNIX - FreeBSD"},
                             {12, "UNIX - OpenBSD"}, {97, "ARM"},          {255, "Standalone App"}};
constexpr named machines[] = {{0, "None"},  {2, "Sparc"}, {3, "Intel 80386"}, {8, "MIPS R3000"}, {20, "PowerPC"},
                              {21, "PowerPC64"}, {22, "IBM S/390"}, {40, "ARM"}, {42, "Renesas / SuperH SH"},
                              {43, "Sparc v9"}, {50, "Intel IA-64"}, {62, "Advanced Micro Devices X86-64"},
                              {183, "AArch64"}, {243, "RISC-V"}, {258, "LoongArch"}};

template <size_t N> std::string name_of(const named (&table)[N], uint32_t v) {
    for (const named &n : table)
        if (n.value == v) return n.name;
    return "<unknown: " + hex(v) + ">";
}

// A DYN file with an interpreter is a position-independent executable.
std::string type_name(uint16_t type, bool interpreter) {
    static const char *const names[] = {"NONE (None)", "REL (Relocatable file)", "EXEC (Executable file)",
                                        "DYN (Shared object file)", "CORE (Core file)"};
    if (type == 3 && interpreter) return "DYN (Position-Independent Executable file)";
    return type < 5 ? names[type] : "<unknown: " + hex(type) + ">";
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

// What the reader answered for one file, gathered before anything is printed.
struct view {
    elf_reader *r = nullptr;
    const elf_header *h = nullptr;
    uint32_t elf_class = 0, encoding = 0;
    uint32_t declared_sections = 0;
    const elf_section *sections = nullptr;
    uint32_t section_count = 0;
    const elf_segment *segments = nullptr;
    uint32_t segment_count = 0;
    uint64_t image_base = ~0ull;
    bool translate = false, va_ok = false, offset_ok = false;
    uint64_t address = 0, va_to_offset = 0, offset_to_va = 0;
    std::string error;  // why the reader refuses the file; empty when it does not
};

std::string code_text(const tool &t, elf_reader *r) {
    const int32_t code = t.call<SLOT_ELF_GET_LAST_ERROR>(r);
    return std::string(error_text(code)) + " (code " + std::to_string(code) + ")";
}

// Loads what the reader offers, table by table; false when not even the
// header can be read.
bool gather(const tool &t, scan_file *file, view &v) {
    v.r = t.call<SLOT_ELF_READER_GET>(file);
    if (!v.r) {
        v.error = "not an ELF file";
        return false;
    }
    const int32_t checked = t.call<SLOT_ELF_CHECK>(v.r, 1);
    if (checked != 1)
        v.error = std::string(checked == 0 ? "not a valid ELF file: " : "unreadable ELF header: ") + code_text(t, v.r);
    if (t.call<SLOT_ELF_GET_HEADER>(v.r, &v.h) != 0 || !v.h) {
        if (v.error.empty()) v.error = "unreadable ELF header";
        return false;
    }
    auto note = [&](const char *what) {
        const std::string why = std::string(what) + code_text(t, v.r);
        v.error = v.error.empty() ? why : v.error + "; " + why;
    };
    v.elf_class = t.call<SLOT_ELF_GET_CLASS>(v.r);
    v.encoding = t.call<SLOT_ELF_GET_ENCODING>(v.r);
    if (v.h->e_phoff != 0 && v.h->e_phnum != 0 &&
        t.call<SLOT_ELF_GET_SEGMENT_TABLE>(v.r, &v.segments, &v.segment_count) != 0) {
        v.segment_count = 0;
        if (checked == 1) note("program header table: ");
    }
    if (v.h->e_shoff != 0) {
        v.declared_sections = t.call<SLOT_ELF_GET_SECTION_COUNT>(v.r);
        if (t.call<SLOT_ELF_GET_SECTION_TABLE>(v.r, &v.sections, &v.section_count) != 0) {
            v.section_count = 0;
            if (checked == 1) note("section header table: ");
        }
    }
    v.image_base = t.call<SLOT_ELF_GET_IMAGE_BASE>(v.r);
    t.call<SLOT_ELF_GET_LAST_ERROR>(v.r);
    if (v.translate) {
        v.va_to_offset = t.call<SLOT_ELF_GET_FILE_OFFSET_BY_VIRTUAL_ADDRESS>(v.r, v.address);
        v.va_ok = t.call<SLOT_ELF_GET_LAST_ERROR>(v.r) == 0;
        v.offset_to_va = t.call<SLOT_ELF_GET_VIRTUAL_ADDRESS_BY_FILE_OFFSET>(v.r, v.address);
        v.offset_ok = t.call<SLOT_ELF_GET_LAST_ERROR>(v.r) == 0;
    }
    return true;
}

bool has_interpreter(const view &v) {
    for (uint32_t i = 0; i < v.segment_count; i++)
        if (v.segments[i].p_type == 3) return true;
    return false;
}

// A section's name, or null with why in *why: names past the loaded part of
// the name table are refused by the reader, never shown blank.
const char *section_name(const tool &t, const view &v, const elf_section &s, const char **why) {
    const char *name = t.call<SLOT_ELF_GET_SECTION_NAME>(v.r, &s);
    t.call<SLOT_ELF_GET_LAST_ERROR>(v.r);
    if (name) return name;
    const uint32_t table = v.h->e_shstrndx;
    if (table >= v.section_count) *why = "<no section-name table>";
    else if (v.sections[table].sh_size > name_table_cap)  // the reader loads only the first 32 KiB
        *why = "<name beyond the 32 KiB name table>";
    else *why = "<name not terminated in the name table>";
    return nullptr;
}

void print_text(const tool &t, const char *path, const view &v) {
    const elf_header &h = *v.h;
    const bool wide = v.elf_class != 1;
    printf("File: %s\n\nELF Header:\n  Magic:  ", shown(path).c_str());
    for (uint8_t b : h.e_ident) printf(" %02x", b);
    printf("\n  Class:                             %s\n", v.elf_class == 1 ? "ELF32" : "ELF64");
    printf("  Data:                              2's complement, %s endian\n", v.encoding == 1 ? "little" : "big");
    printf("  OS/ABI:                            %s\n", name_of(os_abis, h.e_ident[7]).c_str());
    printf("  ABI Version:                       %u\n", h.e_ident[8]);
    printf("  Type:                              %s\n", type_name(h.e_type, has_interpreter(v)).c_str());
    printf("  Machine:                           %s\n", name_of(machines, h.e_machine).c_str());
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
            const char *why = nullptr;
            const char *name = section_name(t, v, s, &why);
            printf("  [%2" PRIu32 "] %-17s %-15s %0*" PRIx64 " %06" PRIx64 " %06" PRIx64 " %02" PRIx64
                   " %3s %2" PRIu32 " %3" PRIu32 " %2" PRIu64 "\n",
                   i, name ? shown(name).c_str() : why, section_type(s.sh_type).c_str(), wide ? 16 : 8, s.sh_addr,
                   s.sh_offset, s.sh_size, s.sh_entsize, section_flags(s.sh_flags).c_str(), s.sh_link, s.sh_info,
                   s.sh_addralign);
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
            printf(wide ? "  %-14s 0x%06" PRIx64 " 0x%016" PRIx64 " 0x%016" PRIx64 " 0x%06" PRIx64 " 0x%06" PRIx64
                          " %s 0x%" PRIx64 "\n"
                        : "  %-14s 0x%06" PRIx64 " 0x%08" PRIx64 " 0x%08" PRIx64 " 0x%05" PRIx64 " 0x%05" PRIx64
                          " %s 0x%" PRIx64 "\n",
                   segment_type(p.p_type).c_str(), p.p_offset, p.p_vaddr, p.p_paddr, p.p_filesz, p.p_memsz,
                   segment_flags(p.p_flags).c_str(), p.p_align);
        }
    }

    if (v.image_base == ~0ull) printf("\nImage base: none (no loadable segment)\n");
    else printf("\nImage base: 0x%" PRIx64 "\n", v.image_base);
    if (v.translate) {
        if (v.va_ok) printf("Virtual address 0x%" PRIx64 " is at file offset 0x%" PRIx64 "\n", v.address, v.va_to_offset);
        else printf("Virtual address 0x%" PRIx64 " is not mapped by the file\n", v.address);
        if (v.offset_ok) printf("File offset 0x%" PRIx64 " is at virtual address 0x%" PRIx64 "\n", v.address, v.offset_to_va);
        else printf("File offset 0x%" PRIx64 " is not mapped to memory\n", v.address);
    }
    if (!v.error.empty()) printf("\nError: %s\n", v.error.c_str());
}

std::string as_json(const tool &t, const char *path, const view &v) {
    const elf_header &h = *v.h;
    json j = record(t, path);
    if (!v.error.empty()) j.str("error", v.error);
    j.num("class", v.elf_class).num("encoding", v.encoding);
    j.raw("header", json().num("type", h.e_type).str("type_name", type_name(h.e_type, has_interpreter(v)))
                        .num("machine", h.e_machine).str("machine_name", name_of(machines, h.e_machine))
                        .num("osabi", h.e_ident[7]).str("osabi_name", name_of(os_abis, h.e_ident[7]))
                        .num("abi_version", h.e_ident[8]).num("version", h.e_version).hex("entry", h.e_entry)
                        .hex("phoff", h.e_phoff).hex("shoff", h.e_shoff).hex("flags", h.e_flags)
                        .num("ehsize", h.e_ehsize).num("phentsize", h.e_phentsize).num("phnum", h.e_phnum)
                        .num("shentsize", h.e_shentsize).num("shnum", h.e_shnum).num("shstrndx", h.e_shstrndx).text());
    j.num("section_count", v.declared_sections);
    std::vector<std::string> items;
    for (uint32_t i = 0; i < v.section_count; i++) {
        const elf_section &s = v.sections[i];
        const char *why = nullptr;
        const char *name = section_name(t, v, s, &why);
        json e;
        name ? e.str("name", name) : e.null("name").str("name_note", why);
        items.push_back(e.num("name_offset", s.sh_name).num("type", s.sh_type).hex("flags", s.sh_flags)
                            .hex("addr", s.sh_addr).hex("offset", s.sh_offset).hex("size", s.sh_size)
                            .num("link", s.sh_link).num("info", s.sh_info).hex("addralign", s.sh_addralign)
                            .hex("entsize", s.sh_entsize).text());
    }
    j.raw("sections", json_list(items));
    items.clear();
    for (uint32_t i = 0; i < v.segment_count; i++) {
        const elf_segment &p = v.segments[i];
        items.push_back(json().num("type", p.p_type).hex("flags", p.p_flags).hex("offset", p.p_offset)
                            .hex("vaddr", p.p_vaddr).hex("paddr", p.p_paddr).hex("filesz", p.p_filesz)
                            .hex("memsz", p.p_memsz).hex("align", p.p_align).text());
    }
    j.raw("segments", json_list(items));
    v.image_base == ~0ull ? j.null("image_base") : j.hex("image_base", v.image_base);
    if (v.translate) {
        json x;
        x.hex("address", v.address);
        v.va_ok ? x.hex("file_offset_of_virtual", v.va_to_offset) : x.null("file_offset_of_virtual");
        v.offset_ok ? x.hex("virtual_of_file_offset", v.offset_to_va) : x.null("virtual_of_file_offset");
        j.raw("translate", x.text());
    }
    return j.text();
}

int run(tool &t, const arguments &a) {
    uint64_t address = 0;
    const char *translate = a.value("--translate");
    if (translate && !parse_u64(translate, &address)) return EXIT_USAGE;
    bool first = true;
    t.for_each_file(a, [&](const char *path, scan_file *file, uint32_t) {
        view v;
        v.translate = translate != nullptr;
        v.address = address;
        if (!gather(t, file, v)) {
            t.fail(path, "%s", v.error.c_str());
            return;
        }
        if (t.json) {
            t.emit(as_json(t, path, v));
        } else {
            if (!first) printf("\n");
            print_text(t, path, v);
        }
        first = false;
        if (!v.error.empty()) t.report(path, v.error.c_str());
        fflush(stdout);
    });
    return EXIT_OK;
}

constexpr option options[] = {
    {"--translate", "ADDR", "also translate ADDR as a virtual address and as a file offset"},
    {nullptr, nullptr, nullptr}};

}  // namespace

extern const command cmd_elf = {"elf", "FILE...", "ELF header, sections, program headers, image base", options, 1, -1,
                                outcome::report, run};

}  // namespace kqtool
