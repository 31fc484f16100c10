#include "elf_image.h"

namespace kqtest {
namespace {

struct writer {
    std::vector<uint8_t> &out;
    bool big;
    void put(uint64_t v, int width) {
        for (int i = 0; i < width; i++) {
            int shift = big ? 8 * (width - 1 - i) : 8 * i;
            out.push_back(static_cast<uint8_t>(v >> shift));
        }
    }
};

}  // namespace

std::vector<uint8_t> elf_image::build() {
    const bool c32 = elf_class == 1;
    const int word = c32 ? 4 : 8;

    // The name table: section 0 has the empty name at offset 0.
    std::vector<uint8_t> strtab(1, 0);
    std::vector<section> all;
    all.push_back(section{"", 0});
    for (const section &s : sections) all.push_back(s);
    if (names) all.push_back(section{".shstrtab", 3});
    std::vector<uint32_t> name_at(all.size(), 0);
    for (size_t i = 1; i < all.size(); i++) {
        name_at[i] = static_cast<uint32_t>(strtab.size());
        strtab.insert(strtab.end(), all[i].name.begin(), all[i].name.end());
        strtab.push_back(0);
    }
    strtab.insert(strtab.end(), extra_names.begin(), extra_names.end());

    built_phoff = phoff.value_or(segments.empty() ? 0 : ehdr_size());
    data_offset = ehdr_size() + segments.size() * phdr_size();
    names_offset = data_offset + data_size;
    uint64_t end = names_offset + (names ? strtab.size() : 0);
    uint64_t table_at = (end + 7) & ~uint64_t{7};
    built_shoff = shoff.value_or(table_at);
    if (names) {
        all.back().offset = names_offset;
        all.back().size = strtab.size();
    }

    std::vector<uint8_t> out;
    writer w{out, big};
    const uint8_t ident[16] = {0x7F, 'E', 'L', 'F', static_cast<uint8_t>(elf_class), static_cast<uint8_t>(big ? 2 : 1), 1};
    out.assign(ident, ident + 16);
    w.put(type, 2), w.put(machine, 2), w.put(version, 4), w.put(entry, word), w.put(built_phoff, word);
    w.put(built_shoff, word), w.put(0, 4), w.put(ehsize.value_or(ehdr_size()), 2);
    w.put(phentsize.value_or(phdr_size()), 2), w.put(phnum.value_or(segments.size()), 2);
    w.put(shentsize.value_or(shdr_size()), 2), w.put(shnum.value_or(all.size()), 2);
    w.put(shstrndx.value_or(names ? all.size() - 1 : 0), 2);

    for (const segment &p : segments) {
        if (c32) {
            w.put(p.type, 4), w.put(p.offset, 4), w.put(p.vaddr, 4), w.put(p.paddr, 4), w.put(p.filesz, 4);
            w.put(p.memsz, 4), w.put(p.flags, 4), w.put(p.align, 4);
        } else {
            w.put(p.type, 4), w.put(p.flags, 4), w.put(p.offset, 8), w.put(p.vaddr, 8), w.put(p.paddr, 8);
            w.put(p.filesz, 8), w.put(p.memsz, 8), w.put(p.align, 8);
        }
    }
    out.resize(names_offset, 0x90);
    if (names) out.insert(out.end(), strtab.begin(), strtab.end());
    out.resize(table_at, 0);
    {
        for (size_t i = 0; i < all.size(); i++) {
            const section &s = all[i];
            uint64_t size = i == 0 ? section0_size.value_or(0) : s.size;
            uint32_t link = i == 0 ? section0_link.value_or(0) : s.link;
            uint32_t name = s.name_offset.value_or(name_at[i]);
            w.put(name, 4), w.put(s.type, 4), w.put(s.flags, word), w.put(s.addr, word), w.put(s.offset, word);
            w.put(size, word), w.put(link, 4), w.put(s.info, 4), w.put(s.align, word), w.put(s.entsize, word);
        }
    }
    return out;
}

elf_image elf_image::executable(int elf_class, bool big) {
    elf_image img;
    img.elf_class = elf_class;
    img.big = big;
    img.machine = elf_class == 1 ? 3 : 62;
    uint64_t data = img.ehdr_size() + 3 * img.phdr_size();  // where build() puts the data area
    img.data_size = 0x40;
    img.sections = {
        {".text", 1, 6, 0x401000, data, 0x20, 0, 0, 16, 0},
        {".data", 1, 3, 0x402000, data + 0x20, 0x10, 0, 0, 8, 0},
        {".bss", 8, 3, 0x402010, data + 0x30, 0x100, 0, 0, 8, 0},
        {".comment", 1, 0, 0, data + 0x30, 0x10, 0, 0, 1, 1},
    };
    img.segments = {
        {1, 5, data, 0x401000, 0x401000, 0x20, 0x20, 0x1000},
        {1, 6, data + 0x20, 0x402000, 0x402000, 0x10, 0x110, 0x1000},
        {4, 4, data + 0x30, 0x403000, 0x403000, 0x10, 0x10, 4},
    };
    return img;
}

}  // namespace kqtest
