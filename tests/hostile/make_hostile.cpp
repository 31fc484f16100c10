// make_hostile DIR: writes malformed ELF, PE and NE files into DIR for the
// thread test and the tool test. Run by the build; nothing is checked in.
// Every file is one of: a well-formed image cut at a record boundary (and one
// byte either side), a count at 0, 1, the module's cap, cap + 1 or 0xFFFF, a
// table placed over the headers or over the other table, or an offset that
// wraps 32 or 64 bits.
#include <stdio.h>

#include <initializer_list>
#include <set>
#include <string>

#include "pe/pe_image.h"
#include "support/elf_image.h"

namespace {

using kqtest::bytes;
std::string out_dir;
int written = 0;

void write(const std::string &name, const bytes &b) {
    FILE *f = fopen((out_dir + "/" + name).c_str(), "wb");
    if (!f || fwrite(b.data(), 1, b.size(), f) != b.size() || fclose(f) != 0) {
        perror(name.c_str());
        exit(1);
    }
    written++;
}

// The whole image, then every cut at a boundary and one byte either side.
void write_cuts(const std::string &stem, const bytes &whole, std::set<uint64_t> boundaries) {
    write(stem, whole);
    for (uint64_t at : boundaries)
        for (uint64_t cut : {at - 1, at, at + 1})
            if (cut < whole.size()) write(stem + "-cut" + std::to_string(cut), bytes(whole.begin(), whole.begin() + cut));
}

void elf_files(int cls, bool big) {
    const std::string stem = std::string("elf") + (cls == 1 ? "32" : "64") + (big ? "be" : "le");
    kqtest::elf_image img = kqtest::elf_image::executable(cls, big);
    bytes whole = img.build();
    std::set<uint64_t> cuts = {0, 4, 16, img.ehdr_size(), img.data_offset, img.names_offset};
    for (uint64_t k = 0; k <= img.segments.size(); k++) cuts.insert(img.built_phoff + k * img.phdr_size());
    for (uint64_t k = 0; k <= img.sections.size() + 2; k++) cuts.insert(img.built_shoff + k * img.shdr_size());
    write_cuts(stem, whole, cuts);

    // Counts: 0, 1, the reader's caps (256 program headers, 8192 sections), one past, 0xFFFF.
    for (uint16_t n : {0, 1, 256, 257, 8192, 8193, 0xFFFF}) {
        kqtest::elf_image c = kqtest::elf_image::executable(cls, big);
        c.phnum = n;
        write(stem + "-phnum" + std::to_string(n), c.build());
        c = kqtest::elf_image::executable(cls, big);
        c.shnum = n;
        write(stem + "-shnum" + std::to_string(n), c.build());
        c.shstrndx = n;
        write(stem + "-shstrndx" + std::to_string(n), c.build());
    }
    // Extended numbering: the real counts in section 0, 0 and huge.
    for (uint64_t n : {0ull, 1ull, 8193ull, 0xFFFFFFFFull}) {
        kqtest::elf_image c = kqtest::elf_image::executable(cls, big);
        c.shnum = 0;
        c.section0_size = n;
        c.shstrndx = 0xFFFF;
        c.section0_link = uint32_t(n);
        write(stem + "-extnum" + std::to_string(n), c.build());
    }
    // Tables over the header, over each other, and offsets that wrap.
    const uint64_t wrap32 = 0xFFFFFFF0ull, wrap64 = 0xFFFFFFFFFFFFFFF0ull;
    const uint64_t table_offsets[] = {0, 8, img.built_phoff, img.built_shoff, wrap32, wrap64};
    for (uint64_t at : table_offsets) {
        kqtest::elf_image c = kqtest::elf_image::executable(cls, big);
        c.phoff = at;
        write(stem + "-phoff" + std::to_string(at), c.build());
        c = kqtest::elf_image::executable(cls, big);
        c.shoff = at;
        write(stem + "-shoff" + std::to_string(at), c.build());
    }
    for (uint64_t at : {wrap32, wrap64}) {
        kqtest::elf_image c = kqtest::elf_image::executable(cls, big);
        for (auto &s : c.sections) s.offset = at, s.size = 0x40, s.addr = at;
        for (auto &p : c.segments) p.offset = at, p.filesz = 0x40, p.vaddr = at, p.memsz = at;
        c.sections[0].name_offset = uint32_t(at);
        write(stem + "-wrap" + std::to_string(at), c.build());
    }
    kqtest::elf_image c = kqtest::elf_image::executable(cls, big);
    c.phentsize = 0;
    c.shentsize = 0xFFFF;
    write(stem + "-entsizes", c.build());
}

void pe_files(bool plus) {
    const std::string stem = plus ? "pe32plus" : "pe32";
    kqtest::pe_spec spec = kqtest::two_sections(plus);
    bytes whole = kqtest::build_pe(spec);
    const uint64_t nt = spec.lfanew, table = kqtest::section_table_offset(spec);
    std::set<uint64_t> cuts = {0, 2, 0x3C, 0x40, nt, nt + 4, nt + 24, nt + 24 + 96, table};
    for (uint64_t k = 1; k <= spec.sections.size(); k++) cuts.insert(table + 40 * k);
    for (const auto &s : spec.sections) cuts.insert(s.raw_pointer);
    write_cuts(stem, whole, cuts);

    for (int n : {0, 1, 256, 257, 0xFFFF}) {
        kqtest::pe_spec c = kqtest::two_sections(plus);
        c.number_of_sections = n;
        write(stem + "-nsections" + std::to_string(n), kqtest::build_pe(c));
        c.sections.assign(size_t(n == 0xFFFF ? 300 : n), {0x200, 0x1000, 0x200, 0x400, ".x"});
        write(stem + "-sections" + std::to_string(n), kqtest::build_pe(c));
    }
    // The section table over the headers (optional header size 0 or tiny),
    // e_lfanew inside the MS-DOS header or past the end, wrapping sections.
    for (int size : {0, 2, 0xFFFF}) {
        kqtest::pe_spec c = kqtest::two_sections(plus);
        c.optional_size = size;
        write(stem + "-optsize" + std::to_string(size), kqtest::build_pe(c));
    }
    for (uint32_t lfanew : {0u, 4u, 0x3Cu, 0xFFFFFFF0u}) {
        bytes b = whole;
        kqtest::put32(b, 0x3C, lfanew);
        write(stem + "-lfanew" + std::to_string(lfanew), b);
    }
    for (uint32_t at : {0xFFFFFFFFu, 0xFFFFF000u, 0x80000000u}) {
        kqtest::pe_spec c = kqtest::two_sections(plus);
        c.file_size = 0x1000;
        for (auto &s : c.sections) s.virtual_address = at, s.raw_pointer = at, s.raw_size = 0x2000, s.virtual_size = at;
        c.entry = at + 0x10;
        write(stem + "-wrap" + std::to_string(at), kqtest::build_pe(c));
        c.file_alignment = 0;
        write(stem + "-wrap" + std::to_string(at) + "-align0", kqtest::build_pe(c));
    }
}

void ne_files() {
    bytes whole = kqtest::build_ne(0x80, 0x400);
    write_cuts("ne", whole, {0, 2, 0x3C, 0x40, 0x80, 0x82, 0xC0});
    for (uint32_t lfanew : {0u, 0x3Eu, 0x3FEu, 0x400u, 0xFFFFFFF0u}) write("ne-lfanew" + std::to_string(lfanew), kqtest::build_ne(lfanew, 0x400));
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_hostile DIR\n");
        return 2;
    }
    out_dir = argv[1];
    for (int cls : {1, 2})
        for (bool big : {false, true}) elf_files(cls, big);
    pe_files(false);
    pe_files(true);
    ne_files();
    printf("make_hostile: %d files in %s\n", written, out_dir.c_str());
    return 0;
}
