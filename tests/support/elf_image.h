// Synthetic ELF files of either class and byte order: header, program headers, a data area, the section-name table, the
// section headers, in that order; every header field can be overridden (an overridden e_shoff changes only the header,
// the table stays in place).
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

namespace kqtest {

struct elf_image {
    struct section {  // name_offset: where build() placed the name unless given
        std::string name;
        uint32_t type = 1;
        uint64_t flags = 0, addr = 0, offset = 0, size = 0;
        uint32_t link = 0, info = 0;
        uint64_t align = 1, entsize = 0;
        std::optional<uint32_t> name_offset = std::nullopt;
    };
    struct segment { uint32_t type = 1, flags = 5; uint64_t offset = 0, vaddr = 0, paddr = 0, filesz = 0, memsz = 0, align = 0x1000; };
    int elf_class = 2;  // 1 or 2
    bool big = false, names = true;  // names: add a .shstrtab and point e_shstrndx at it
    uint16_t type = 2, machine = 62;
    uint32_t version = 1;
    uint64_t entry = 0x401000, data_size = 64;  // data_size: bytes of the data area
    std::vector<section> sections;  // section 0 (NULL) is added by build()
    std::vector<segment> segments;
    std::optional<uint64_t> phoff, shoff, section0_size;  // section0_*: extended numbering in section 0
    std::optional<uint16_t> phnum, shnum, shstrndx, ehsize, phentsize, shentsize;
    std::optional<uint32_t> section0_link;
    std::vector<uint8_t> extra_names;  // appended to the name table
    uint64_t built_phoff = 0, built_shoff = 0, data_offset = 0, names_offset = 0;  // filled by build()

    uint64_t ehdr_size() const { return elf_class == 1 ? 52 : 64; }
    uint64_t phdr_size() const { return elf_class == 1 ? 32 : 56; }
    uint64_t shdr_size() const { return elf_class == 1 ? 40 : 64; }
    std::vector<uint8_t> build();
    // A small executable: .text, .data, .bss, .comment, a PT_LOAD per allocated section, a PT_NOTE.
    static elf_image executable(int elf_class, bool big);
};

}  // namespace kqtest
