#include "elf_image.h"

namespace kqtest {

std::vector<uint8_t> elf_image::build() {
    const int word = elf_class == 1 ? 4 : 8;
    // The name table: section 0 has the empty name at offset 0.
    std::vector<uint8_t> strtab(1, 0);
    std::vector<section> all = sections;
    all.insert(all.begin(), section{"", 0});
    if (names) all.push_back({".shstrtab", 3});
    std::vector<uint32_t> name_at(all.size(), 0);
    for (size_t i = 1; i < all.size(); i++) {
        name_at[i] = uint32_t(strtab.size());
        strtab.insert(strtab.end(), all[i].name.c_str(), all[i].name.c_str() + all[i].name.size() + 1);
    }
    strtab.insert(strtab.end(), extra_names.begin(), extra_names.end());
    built_phoff = phoff.value_or(segments.empty() ? 0 : ehdr_size());
    data_offset = ehdr_size() + segments.size() * phdr_size();
    names_offset = data_offset + data_size;
    const uint64_t table_at = (names_offset + (names ? strtab.size() : 0) + 7) & ~uint64_t{7};
    built_shoff = shoff.value_or(table_at);
    if (names) all.back().offset = names_offset, all.back().size = strtab.size();
    all[0].size = section0_size.value_or(0), all[0].link = section0_link.value_or(0);
    std::vector<uint8_t> out = {0x7F, 'E', 'L', 'F', uint8_t(elf_class), uint8_t(big ? 2 : 1), 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    auto put = [&](uint64_t v, int width) {
        for (int i = 0; i < width; i++) out.push_back(uint8_t(v >> (big ? 8 * (width - 1 - i) : 8 * i)));
    };
    put(type, 2), put(machine, 2), put(version, 4), put(entry, word), put(built_phoff, word), put(built_shoff, word);
    put(0, 4), put(ehsize.value_or(ehdr_size()), 2), put(phentsize.value_or(phdr_size()), 2);
    put(phnum.value_or(segments.size()), 2), put(shentsize.value_or(shdr_size()), 2), put(shnum.value_or(all.size()), 2);
    put(shstrndx.value_or(names ? all.size() - 1 : 0), 2);
    for (const segment &p : segments) {
        put(p.type, 4), put(p.flags, word == 8 ? 4 : 0);
        for (uint64_t v : {p.offset, p.vaddr, p.paddr, p.filesz, p.memsz}) put(v, word);
        put(p.flags, word == 4 ? 4 : 0), put(p.align, word);
    }
    out.resize(names_offset, 0x90);
    if (names) out.insert(out.end(), strtab.begin(), strtab.end());
    out.resize(table_at, 0);
    for (size_t i = 0; i < all.size(); i++) {
        put(all[i].name_offset.value_or(name_at[i]), 4), put(all[i].type, 4);
        for (uint64_t v : {all[i].flags, all[i].addr, all[i].offset, all[i].size}) put(v, word);
        put(all[i].link, 4), put(all[i].info, 4), put(all[i].align, word), put(all[i].entsize, word);
    }
    return out;
}

elf_image elf_image::executable(int elf_class, bool big) {
    elf_image img;
    img.elf_class = elf_class, img.big = big, img.machine = elf_class == 1 ? 3 : 62;
    const uint64_t data = img.ehdr_size() + 3 * img.phdr_size();  // where build() puts the data area
    img.sections = {{".text", 1, 6, 0x401000, data, 0x20, 0, 0, 16},
                    {".data", 1, 3, 0x402000, data + 0x20, 0x10, 0, 0, 8},
                    {".bss", 8, 3, 0x402010, data + 0x30, 0x100, 0, 0, 8},
                    {".comment", 1, 0, 0, data + 0x30, 0x10, 0, 0, 1, 1}};
    img.segments = {{1, 5, data, 0x401000, 0x401000, 0x20, 0x20},
                    {1, 6, data + 0x20, 0x402000, 0x402000, 0x10, 0x110},
                    {4, 4, data + 0x30, 0x403000, 0x403000, 0x10, 0x10, 4}};
    return img;
}

}  // namespace kqtest
