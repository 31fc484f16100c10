// make_hostile DIR: writes malformed ELF, PE and NE files into DIR for the thread test and the tool test. Run by the
// build; nothing is checked in. Every file is one of: a well-formed image cut at a record boundary (and one byte either
// side), a count at 0, 1, the module's cap, cap + 1 or 0xFFFF, a table placed over the headers or over the other table,
// or an offset that wraps 32 or 64 bits.
#include <stdio.h>

#include <set>
#include <string>
#include <vector>

#include "pe/pe_image.h"
#include "support/elf_image.h"

namespace {

using kqtest::bytes;
using kqtest::elf_image;
using kqtest::pe_spec;
std::string out_dir;
int written = 0;

void write(const std::string &name, const bytes &b) {
    FILE *f = fopen((out_dir + "/" + name).c_str(), "wb");
    if (!f || (!b.empty() && fwrite(b.data(), 1, b.size(), f) != b.size()) || fclose(f) != 0) perror(name.c_str()), exit(1);
    written++;
}

// The whole image, then every cut at a boundary and one byte either side.
void write_cuts(const std::string &stem, const bytes &whole, const std::set<uint64_t> &boundaries) {
    write(stem, whole);
    for (uint64_t at : boundaries)
        for (uint64_t cut : {at - 1, at, at + 1})
            if (cut < whole.size()) write(stem + "-cut" + std::to_string(cut), bytes(whole.begin(), whole.begin() + cut));
}

bytes build(elf_image &c) { return c.build(); }
bytes build(pe_spec &c) { return kqtest::build_pe(c); }
bytes build(bytes &c) { return c; }

// A field of a record set to each value in a fresh image from make(): file stem-NAMEVALUE.
template <class Make, class Set> void vary(const std::string &stem, const char *name, const std::vector<uint64_t> &values, Make make, Set set) {
    for (uint64_t v : values) {
        auto c = make();
        set(c, v);
        write(stem + "-" + name + std::to_string(v), build(c));
    }
}

constexpr uint64_t kWrap32 = 0xFFFFFFF0ull, kWrap64 = 0xFFFFFFFFFFFFFFF0ull;

void elf_files(int cls, bool big) {
    const std::string stem = std::string("elf") + (cls == 1 ? "32" : "64") + (big ? "be" : "le");
    auto make = [&] { return elf_image::executable(cls, big); };
    elf_image img = make();
    const bytes whole = img.build();
    std::set<uint64_t> cuts = {0, 4, 16, img.ehdr_size(), img.data_offset, img.names_offset};
    for (uint64_t k = 0; k <= img.segments.size(); k++) cuts.insert(img.built_phoff + k * img.phdr_size());
    for (uint64_t k = 0; k <= img.sections.size() + 2; k++) cuts.insert(img.built_shoff + k * img.shdr_size());
    write_cuts(stem, whole, cuts);
    // Counts at the reader's caps (256 program headers, 8192 sections); extended
    // numbering, the real counts in section 0; tables over the header and each other.
    const std::vector<uint64_t> counts = {0, 1, 256, 257, 8192, 8193, 0xFFFF},
                                offsets = {0, 8, img.built_phoff, img.built_shoff, kWrap32, kWrap64};
    vary(stem, "phnum", counts, make, [](elf_image &c, uint64_t n) { c.phnum = uint16_t(n); });
    vary(stem, "shnum", counts, make, [](elf_image &c, uint64_t n) { c.shnum = uint16_t(n); });
    vary(stem, "shstrndx", counts, make, [](elf_image &c, uint64_t n) { c.shnum = c.shstrndx = uint16_t(n); });
    vary(stem, "extnum", {0, 1, 8193, 0xFFFFFFFF}, make, [](elf_image &c, uint64_t n) {
        c.shnum = 0, c.section0_size = n, c.shstrndx = 0xFFFF, c.section0_link = uint32_t(n); });
    vary(stem, "phoff", offsets, make, [](elf_image &c, uint64_t at) { c.phoff = at; });
    vary(stem, "shoff", offsets, make, [](elf_image &c, uint64_t at) { c.shoff = at; });
    vary(stem, "wrap", {kWrap32, kWrap64}, make, [](elf_image &c, uint64_t at) {
        for (auto &s : c.sections) s.offset = at, s.size = 0x40, s.addr = at;
        for (auto &p : c.segments) p.offset = at, p.filesz = 0x40, p.vaddr = at, p.memsz = at;
        c.sections[0].name_offset = uint32_t(at); });
    vary(stem, "entsizes", {0}, make, [](elf_image &c, uint64_t) { c.phentsize = 0, c.shentsize = 0xFFFF; });
}

// Sections (and the entry) at an address and raw offset that wrap, in a 4 KiB file.
void pe_wrap(pe_spec &c, uint64_t at) {
    c.file_size = 0x1000;
    for (auto &s : c.sections) s.virtual_address = s.raw_pointer = s.virtual_size = uint32_t(at), s.raw_size = 0x2000;
    c.entry = uint32_t(at + 0x10);
}

void pe_files(bool plus) {
    const std::string stem = plus ? "pe32plus" : "pe32";
    const pe_spec spec = kqtest::two_sections(plus);
    const bytes whole = kqtest::build_pe(spec);
    const uint64_t nt = spec.lfanew, table = kqtest::section_table_offset(spec);
    std::set<uint64_t> cuts = {0, 2, 0x3C, 0x40, nt, nt + 4, nt + 24, nt + 24 + 96, table};
    for (uint64_t k = 1; k <= spec.sections.size(); k++) cuts.insert(table + 40 * k);
    for (const auto &s : spec.sections) cuts.insert(s.raw_pointer);
    write_cuts(stem, whole, cuts);
    // The section table over the headers (optional header size 0 or tiny).
    const std::vector<uint64_t> counts = {0, 1, 256, 257, 0xFFFF}, wraps = {0xFFFFFFFF, 0xFFFFF000, 0x80000000};
    auto make = [&] { return kqtest::two_sections(plus); };
    vary(stem, "nsections", counts, make, [](pe_spec &c, uint64_t n) { c.number_of_sections = int32_t(n); });
    vary(stem, "sections", counts, make, [](pe_spec &c, uint64_t n) {
        c.number_of_sections = int32_t(n), c.sections.assign(n == 0xFFFF ? 300 : n, {0x200, 0x1000, 0x200, 0x400, ".x"}); });
    vary(stem, "optsize", {0, 2, 0xFFFF}, make, [](pe_spec &c, uint64_t n) { c.optional_size = int32_t(n); });
    vary(stem, "wrap", wraps, make, pe_wrap);
    vary(stem, "align0-wrap", wraps, make, [](pe_spec &c, uint64_t at) { pe_wrap(c, at), c.file_alignment = 0; });
    // The NT headers inside the MS-DOS header or past the end.
    vary(stem, "lfanew", {0, 4, 0x3C, 0xFFFFFFF0}, [&] { return whole; }, [](bytes &b, uint64_t at) { kqtest::put32(b, 0x3C, uint32_t(at)); });
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) return fprintf(stderr, "usage: make_hostile DIR\n"), 2;
    out_dir = argv[1];
    for (int cls : {1, 2})
        for (bool big : {false, true}) elf_files(cls, big);
    for (bool plus : {false, true}) pe_files(plus);
    write_cuts("ne", kqtest::build_ne(0x80, 0x400), {0, 2, 0x3C, 0x40, 0x80, 0x82, 0xC0});
    for (uint32_t lfanew : {0u, 0x3Eu, 0x3FEu, 0x400u, 0xFFFFFFF0u}) write("ne-lfanew" + std::to_string(lfanew), kqtest::build_ne(lfanew, 0x400));
    printf("make_hostile: %d files in %s\n", written, out_dir.c_str());
    return 0;
}
