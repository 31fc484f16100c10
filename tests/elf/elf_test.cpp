// The ELF slots over whole files: one row per file (a change to a small
// executable of either class and byte order) with the digest of a full walk
// over the reader, both fault walks over those walks, and the windowed read.
#include <string.h>

#include <functional>

#include "support/elf_image.h"
#include "support/fault_walks.h"
#include "support/module_fixture.h"

namespace kqtest {
namespace {

// "i" for a record found at index i of its table, "-code" for a failure.
template <class T, class Lookup> std::string found(elf_reader *r, const helper_api_entry *api, const T *table, Lookup lookup) {
    const T *out = nullptr;
    if (lookup(&out) != 0 || !out) return "-" + std::to_string(call<SLOT_ELF_GET_LAST_ERROR>(api, r));
    return std::to_string(out - table);
}

std::string hex(uint64_t v) {
    char buf[24];
    snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(v));
    return buf;
}

// Hex of a - b, signed: file offsets are shown from the start of the data
// area so that all four variants give the same digest.
std::string rel(uint64_t a, uint64_t b) { return a >= b ? "+" + hex(a - b) : "-" + hex(b - a); }

// The reader's answers in the parts asked for: c elf_check, i the class and
// encoding (against those the file was built with), h the
// header, s the section table and its names, g the program headers and the
// image base, a each probe address through the four lookups and the
// translation, o offsets in the data area translated back.
std::string elf_digest(const helper_api_entry *api, scan_file *f, const elf_image &img, const std::string &parts,
                       const std::vector<uint64_t> &probes) {
    elf_reader *r = call<SLOT_ELF_READER_GET>(api, f);
    if (!r) return "no reader";
    std::string out;
    auto add = [&](const std::string &what, const std::string &value) { out += what + value; };
    auto err = [&] { return std::to_string(call<SLOT_ELF_GET_LAST_ERROR>(api, r)); };
    auto has = [&](char part) { return parts.find(part) != std::string::npos; };
    const int32_t checked = call<SLOT_ELF_CHECK>(api, r, 1);
    const std::string code = err();  // read once, then cleared
    if (has('c')) add("check ", std::to_string(checked) + "/" + code);
    if (has('i')) {
        const int32_t cls = int32_t(call<SLOT_ELF_GET_CLASS>(api, r)), enc = int32_t(call<SLOT_ELF_GET_ENCODING>(api, r));
        add(" class ", cls == img.elf_class ? "as built" : std::to_string(cls));
        add(" encoding ", enc == (img.big ? 2 : 1) ? "as built" : std::to_string(enc));
    }
    const elf_header *h = nullptr;
    if (call<SLOT_ELF_GET_HEADER>(api, r, &h) != 0) {
        add(" header -", err());
    } else if (has('h')) {
        add(" type ", std::to_string(h->e_type) + " entry " + hex(h->e_entry) + " ph " + std::to_string(h->e_phnum));
        add(" sh ", std::to_string(h->e_shnum) + "/" + std::to_string(h->e_shstrndx));
    }
    const elf_section *s = nullptr;
    const elf_segment *g = nullptr;
    uint32_t n = 0;
    const uint32_t sections = call<SLOT_ELF_GET_SECTION_COUNT>(api, r);
    if (call<SLOT_ELF_GET_SECTION_TABLE>(api, r, &s, &n) != 0) {
        if (has('s')) add(" sections -", err());
    } else if (has('s')) {
        add(" sections ", std::to_string(sections) + "/" + std::to_string(n) + ":");
        for (uint32_t i = 1; i < n && i < 6; i++) {
            const char *name = call<SLOT_ELF_GET_SECTION_NAME>(api, r, s + i);
            add(" ", name ? name : "?" + err());
        }
        add(" .data@", found(r, api, s, [&](auto o) { return call<SLOT_ELF_GET_SECTION_BY_NAME>(api, r, ".data", o); }));
        add(" #4@", found(r, api, s, [&](auto o) { return call<SLOT_ELF_GET_SECTION_BY_INDEX>(api, r, 4, o); }));
    }
    const uint32_t segments = call<SLOT_ELF_GET_SEGMENT_COUNT>(api, r);
    if (call<SLOT_ELF_GET_SEGMENT_TABLE>(api, r, &g, &n) != 0) {
        if (has('g')) add(" segments -", err());
    } else if (has('g')) {
        add(" segments ", std::to_string(segments) + "/" + std::to_string(n));
        add(" #2@", found(r, api, g, [&](auto o) { return call<SLOT_ELF_GET_SEGMENT_BY_INDEX>(api, r, 2, o); }));
    }
    const uint64_t base = call<SLOT_ELF_GET_IMAGE_BASE>(api, r);
    if (has('g')) add(" base ", hex(base) + "/" + err());
    for (uint64_t a : has('a') ? probes : std::vector<uint64_t>{}) {
        add(" | ", hex(a));
        add(": sec ", found(r, api, s, [&](auto o) { return call<SLOT_ELF_GET_SECTION_BY_VIRTUAL_ADDRESS>(api, r, a, o); }));
        add(",", found(r, api, s, [&](auto o) { return call<SLOT_ELF_GET_SECTION_BY_PHYSICAL_ADDRESS>(api, r, a, o); }));
        add(" seg ", found(r, api, g, [&](auto o) { return call<SLOT_ELF_GET_SEGMENT_BY_VIRTUAL_ADDRESS>(api, r, a, o); }));
        add(",", found(r, api, g, [&](auto o) { return call<SLOT_ELF_GET_SEGMENT_BY_PHYSICAL_ADDRESS>(api, r, a, o); }));
        const uint64_t offset = call<SLOT_ELF_GET_FILE_OFFSET_BY_VIRTUAL_ADDRESS>(api, r, a);
        add(" off ", (offset ? rel(offset, img.data_offset) : "0") + "/" + err());
    }
    for (uint64_t k : has('o') ? std::vector<uint64_t>{0x4, 0x24, 0x34, 0x70} : std::vector<uint64_t>{}) {
        add(" | @+", hex(k));
        add(": va ", hex(call<SLOT_ELF_GET_VIRTUAL_ADDRESS_BY_FILE_OFFSET>(api, r, img.data_offset + k)));
        add("/", err());
    }
    return out;
}

struct elf_row {
    const char *name;
    std::function<void(elf_image &)> change;  // on the executable of the class and byte order
    std::function<void(bytes &, const elf_image &)> patch;  // on the built file
    std::string parts;
    std::vector<uint64_t> probes;
    const char *expected[2];  // ELF32, ELF64 (null: as ELF32), either byte order
};

elf_image image_of(const elf_row &row, int variant) {
    elf_image img = elf_image::executable(variant < 2 ? 1 : 2, variant % 2 == 1);
    if (row.change) row.change(img);
    return img;
}

bytes build_row(const elf_row &row, elf_image &img) {
    bytes data = img.build();
    if (row.patch) row.patch(data, img);
    return data;
}

const std::vector<uint64_t> kProbes = {0x401004, 0x40201F, 0x40210F, 0x403000};

// A file of this class and byte order with no sections or segments yet.
void plain(elf_image &img) {
    elf_image fresh;
    fresh.elf_class = img.elf_class, fresh.big = img.big;
    img = fresh;
}

using P = std::vector<uint64_t>;
const P kNoProbes;

std::vector<elf_row> elf_rows() {
    const uint64_t top = ~uint64_t{0} - 4095;
    return {
        {"executable", nullptr, nullptr, "cihsgao", kProbes,
         {"check 1/0 class as built encoding as built type 2 entry 401000 ph 3 sh 6/5 sections 6/6: .text .data .bss .comment .shstrtab .data@2 #4@4 segments 3/3 #2@2 base 401000/0 | "
           "401004: sec 1,1 seg 0,0 off +4/0 | 40201f: sec 3,3 seg 1,1 off +3f/0 | "
           "40210f: sec 3,3 seg 1,1 off +12f/0 | 403000: sec -209,-209 seg 2,2 off +30/0 | @+4: va 401004/0 | "
           "@+24: va 402004/0 | @+34: va 402014/0 | @+70: va 402050/0"}},
        // elf_check: the first failing test gives the code
        {"bad_class", nullptr, [](bytes &d, auto &) { d[4] = 3, d[40] = d[41] = d[52] = d[53] = 0; }, "c", kNoProbes,
         {"check 0/302"}},
        {"bad_data", nullptr, [](bytes &d, auto &) { d[5] = 0, d[20] = d[21] = d[22] = d[23] = 2; }, "c", kNoProbes,
         {"check 0/303"}},
        {"bad_ident_version", nullptr, [](bytes &d, auto &) { d[6] = 2; }, "c", kNoProbes, {"check 0/304"}},
        {"version", [](elf_image &i) { i.version = 0; }, nullptr, "c", kNoProbes, {"check 0/206"}},
        {"ehsize", [](elf_image &i) { i.ehsize = 60; }, nullptr, "c", kNoProbes, {"check 0/300"}},
        {"phentsize", [](elf_image &i) { i.phentsize = 40; }, nullptr, "c", kNoProbes, {"check 0/300"}},
        {"shentsize", [](elf_image &i) { i.shentsize = 56; }, nullptr, "c", kNoProbes, {"check 0/300"}},
        {"other_class_entry_sizes", [](elf_image &i) { i.phentsize = i.elf_class == 1 ? 56 : 32; }, nullptr, "c", kNoProbes,
         {"check 1/0"}},
        {"shnum_without_table", [](elf_image &i) { i.shoff = 0; }, nullptr, "c", kNoProbes, {"check 0/309"}},
        {"phnum_without_table", [](elf_image &i) { i.phoff = 0; }, nullptr, "c", kNoProbes, {"check 0/309"}},
        {"type", [](elf_image &i) { i.type = 5; }, nullptr, "c", kNoProbes, {"check 0/305"}},
        {"no_tables", [](elf_image &i) { i.type = 3, i.shoff = i.phoff = 0, i.shnum = i.phnum = 0; }, nullptr, "c", kNoProbes,
         {"check 0/309"}},
        {"relocatable_without_sections", [](elf_image &i) { i.type = 1, i.shoff = 0, i.shnum = 0; }, nullptr, "c", kNoProbes,
         {"check 0/310"}},
        {"executable_without_segments", [](elf_image &i) { i.phoff = 0, i.phnum = 0; }, nullptr, "c", kNoProbes,
         {"check 0/312"}},
        {"shared_object_without_segments", [](elf_image &i) { i.type = 3, i.phoff = 0, i.phnum = 0; }, nullptr, "c", kNoProbes,
         {"check 1/0"}},
        {"relocatable", [](elf_image &i) { i.type = 1; }, nullptr, "c", kNoProbes, {"check 1/0"}},
        {"shared_object_without_sections", [](elf_image &i) { i.type = 3, i.shoff = 0, i.shnum = 0, i.names = false; },
         nullptr, "c", kNoProbes, {"check 1/0"}},
        {"truncated_header", nullptr, [](bytes &d, auto &) { d.resize(50); }, "ch", kNoProbes,
         {"check -1/0 header -0"}},
        // identification: the encoding is corrected by e_version, the class by e_ehsize
        {"encoding_corrected", nullptr, [](bytes &d, auto &i) { d[5] = i.big ? 1 : 2; }, "cih", kNoProbes,
         {"check 1/0 class as built encoding as built type 2 entry 401000 ph 3 sh 6/5"}},
        {"class_corrected", nullptr, [](bytes &d, auto &i) { d[4] = 3 - i.elf_class; }, "cig", kNoProbes,
         {"check 1/0 class as built encoding as built segments 3/3 #2@2 base 401000/0"}},
        {"short_file_keeps_ident", nullptr, [](bytes &d, auto &) { d.resize(40), d[4] = 7, d[5] = 9, d[20] = 1; }, "cih", kNoProbes,
         {"check 0/302 class 7 encoding 9 header -0"}},
        {"shorter_than_ident", nullptr, [](bytes &d, auto &) { d.resize(7); }, "cih", kNoProbes,
         {"check 0/0 class -1 encoding -1 header -0"}},
        {"high_addresses", [](elf_image &i) { i.entry = 0x80000000u, i.segments[0].vaddr = 0x80001000u; }, nullptr,
         "ha", P{0x80001000u}, {" type 2 entry 80000000 ph 3 sh 6/5 | 80001000: sec -209,-209 seg 0,-210 off +0/0"}},
        // the tables: caps, extended numbering, cut by the end of the file
        {"section_cap", [](elf_image &i) { plain(i), i.names = false, i.sections.resize(9999, {"", 1}); }, nullptr, "s", kNoProbes,
         {" sections 10000/8192: ?314 ?314 ?314 ?314 ?314 .data@-209 #4@4"}},
        {"extended_numbering", [](elf_image &i) {
             plain(i), i.sections.resize(298, {"", 1}), i.sections[2].name = ".data", i.shnum = 0;
             i.section0_size = 300, i.shstrndx = 0xFFFF, i.section0_link = 299;
         }, nullptr, "s", kNoProbes, {" sections 300/300:   .data   .data@3 #4@4"}},
        {"section_table_cut", [](elf_image &i) { plain(i), i.names = false, i.sections.resize(9, {"", 1}); },
         [](bytes &d, auto &i) { d.resize(i.built_shoff + 290); }, "s", kNoProbes,
         {" sections 10/7: ?314 ?314 ?314 ?314 ?314 .data@-209 #4@4",
          " sections 10/4: ?314 ?314 ?314 .data@-209 #4@-202"}},
        {"segment_table_cut", [](elf_image &i) { plain(i), i.names = false, i.segments.resize(4), i.shoff = 0, i.shnum = 0; },
         [](bytes &d, auto &i) { d.resize(i.built_phoff + 100); }, "g", kNoProbes,
         {" segments 4/3 #2@2 base 0/310",
          " segments 4/1 #2@-202 base 0/0"}},
        {"segment_cap", [](elf_image &i) {
             plain(i), i.segments.resize(300, {1, 4, 0, 0x1000, 0x1000, 0, 0x10}), i.segments[299].vaddr = 0x10;
         }, nullptr, "g", kNoProbes, {" segments 300/256 #2@2 base 1000/0"}},
        {"name_cap", [](elf_image &i) {
             plain(i), i.sections = {{".a", 1}, {".b", 1}}, i.extra_names.assign(100000, 'x');
             memcpy(&i.extra_names[40000], ".data", 6);
             i.sections[1].name_offset = 1 + 3 + 3 + 10 + 40000;  // ".data", past the cap
             i.sections[0].name_offset = 32767;                   // 'x' up to the end: unterminated
         }, nullptr, "s", kNoProbes, {" sections 4/4: ?0 ?0 .shstrtab .data@-209 #4@-202"}},
        {"no_name_table", [](elf_image &i) { i.shstrndx = 0; }, nullptr, "s", kNoProbes,
         {" sections 6/6: ?314 ?314 ?314 ?314 ?314 .data@-209 #4@4"}},
        {"tables_beyond_head", [](elf_image &i) { i.data_size = 30000; }, nullptr, "sga", kProbes,
         {" sections 6/6: .text .data .bss .comment .shstrtab .data@2 #4@4 segments 3/3 #2@2 base 401000/0 | "
           "401004: sec 1,1 seg 0,0 off +4/0 | 40201f: sec 3,3 seg 1,1 off +3f/0 | "
           "40210f: sec 3,3 seg 1,1 off +12f/0 | 403000: sec -209,-209 seg 2,2 off +30/0"}},
        // lookups by address and the translations
        {"section_addresses", [](elf_image &i) {
             plain(i), i.sections = {{".zero", 1, 2, 4096, 0, 0}, {".note", 1, 0, 0, 0, 0x100}, {".big", 1, 2, 0x2000, 0, 0x100}};
         }, nullptr, "sa", P{4096, 0x10, 0x20FF, 0x2100},
         {" sections 5/5: .zero .note .big .shstrtab .data@-209 #4@4 | 1000: sec 1,-209 seg -210,-210 off 0/204 | "
           "10: sec -209,-209 seg -210,-210 off 0/204 | 20ff: sec 3,-209 seg -210,-210 off +cb/0 | "
           "2100: sec -209,-209 seg -210,-210 off 0/204",
          " sections 5/5: .zero .note .big .shstrtab .data@-209 #4@4 | 1000: sec 1,-209 seg -210,-210 off 0/204 | "
           "10: sec -209,-209 seg -210,-210 off 0/204 | 20ff: sec 3,-209 seg -210,-210 off +bf/0 | "
           "2100: sec -209,-209 seg -210,-210 off 0/204"}},
        {"segment_addresses", [top](elf_image &i) {
             plain(i);
             i.segments = {{1, 4, 0, 0x1000, 0x1000, 0, 0}, {4, 4, 0, 0x3000, 0x3000, 0, 0}, {1, 4, 0, 0, 0, 0, 0},
                           {1, 4, 0, 0x400, 0, 0, 0x100}, {1, 4, 0, 0x420, 0x420, 0, 0x100}, {1, 4, 0, top, top, 0, 8192}};
         }, nullptr, "gao", P{0x1000, 0x1001, 0x3000, 0, 0x10, 0x430, top + 10},
         {" segments 6/6 #2@2 base 0/0 | 1000: sec -209,-209 seg 0,0 off 0/204 | "
           "1001: sec -209,-209 seg -210,-210 off 0/204 | 3000: sec -209,-209 seg -210,-210 off 0/204 | "
           "0: sec -209,-209 seg -210,3 off 0/204 | 10: sec -209,-209 seg -210,3 off 0/204 | "
           "430: sec -209,-209 seg 3,4 off -c4/0 | fffffffffffff00a: sec -209,-209 seg -210,-210 off 0/204 | "
           "@+4: va 4f8/0 | @+24: va fffff118/0 | @+34: va fffff128/0 | @+70: va fffff164/0",
          " segments 6/6 #2@2 base 0/0 | 1000: sec -209,-209 seg 0,0 off 0/204 | "
           "1001: sec -209,-209 seg -210,-210 off 0/204 | 3000: sec -209,-209 seg -210,-210 off 0/204 | "
           "0: sec -209,-209 seg -210,3 off 0/204 | 10: sec -209,-209 seg -210,3 off 0/204 | "
           "430: sec -209,-209 seg 3,4 off -160/0 | fffffffffffff00a: sec -209,-209 seg -210,-210 off 0/204 | "
           "@+4: va fffffffffffff194/0 | @+24: va fffffffffffff1b4/0 | @+34: va fffffffffffff1c4/0 | "
           "@+70: va fffffffffffff200/0"}},
        {"no_program_headers", [](elf_image &i) { plain(i), i.phoff = 64, i.phnum = 0; }, nullptr, "gao", P{0x1000},
         {" segments -312 base ffffffffffffffff/0 | 1000: sec -209,-209 seg -210,-210 off 0/204 | @+4: va 0/203 | "
           "@+24: va 0/203 | @+34: va 0/203 | @+70: va 0/203"}},
        {"image_base_lowest_load", [](elf_image &i) {
             plain(i), i.segments = {{1, 4, 0, 0x400, 0x400, 0, 0x10}, {1, 4, 0, 0x200, 0x200, 0, 0x10}, {4, 4, 0, 0x100, 0x100, 0, 4}};
         }, nullptr, "g", kNoProbes, {" segments 3/3 #2@2 base 200/0"}},
        {"image_base_without_load", [](elf_image &i) { plain(i), i.segments = {{2, 4, 0, 0x100, 0x100, 0, 4}}; }, nullptr, "g", kNoProbes,
         {" segments 1/1 #2@-202 base ffffffffffffffff/0"}},
        {"translations_by_segments", [](elf_image &i) {
             plain(i), i.segments = {{1, 4, 0x40, 0x100, 0x100, 0x20, 0x80}, {1, 4, 0x1000, 0x120, 0x120, 0x10, 0x10}};
         }, nullptr, "ao", P{0x100, 0x17F, 0x120, 0x180},
         {" | 100: sec -209,-209 seg 0,0 off -34/0 | 17f: sec -209,-209 seg 0,0 off +4b/0 | "
           "120: sec -209,-209 seg 0,0 off -14/0 | 180: sec -209,-209 seg -210,-210 off 0/204 | @+4: va 138/0 | "
           "@+24: va 158/0 | @+34: va 168/0 | @+70: va 0/203",
          " | 100: sec -209,-209 seg 0,0 off -70/0 | 17f: sec -209,-209 seg 0,0 off +f/0 | "
           "120: sec -209,-209 seg 0,0 off -50/0 | 180: sec -209,-209 seg -210,-210 off 0/204 | @+4: va 174/0 | "
           "@+24: va 0/203 | @+34: va 0/203 | @+70: va 0/203"}},
        {"translations_by_sections", [](elf_image &i) {
             plain(i), i.type = 1, i.sections = {{".info", 1, 0, 0x300, 0xA0, 0x10}, {".text", 1, 2, 0x300, 0xA0, 0x60}};
         }, nullptr, "ao", P{0x305, 0x360},
         {" | 305: sec 1,-209 seg -210,-210 off +71/0 | 360: sec -209,-209 seg -210,-210 off 0/204 | @+4: va 0/203 | "
           "@+24: va 0/203 | @+34: va 0/203 | @+70: va 304/0",
          " | 305: sec 1,-209 seg -210,-210 off +65/0 | 360: sec -209,-209 seg -210,-210 off 0/204 | @+4: va 0/203 | "
           "@+24: va 0/203 | @+34: va 0/203 | @+70: va 310/0"}},
        {"no_tables_to_translate", [](elf_image &i) { plain(i), i.type = 3, i.names = false, i.shoff = 0, i.shnum = 0; },
         nullptr, "ao", P{0x305},
         {" | 305: sec -209,-209 seg -210,-210 off 0/0 | @+4: va 0/0 | @+24: va 0/0 | @+34: va 0/0 | @+70: va 0/0"}},
    };
}

void PrintTo(const elf_row &r, std::ostream *os) { *os << r.name; }

class ElfFiles : public ModuleTest, public ::testing::WithParamInterface<elf_row> {};

TEST_P(ElfFiles, Walk) {
    const elf_row &row = GetParam();
    const char *expected = nullptr;
    for (int v = 0; v < 4; v++) {
        if (v % 2 == 0 && row.expected[v / 2]) expected = row.expected[v / 2];
        elf_image img = image_of(row, v);
        EXPECT_EQ(elf_digest(api_, create(build_row(row, img)), img, row.parts, row.probes), expected ? expected : "")
            << "variant " << v;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, ElfFiles, ::testing::ValuesIn(elf_rows()),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kqtest

namespace kqtest {
namespace {

// Both fault walks over every row's full walk, in one class and byte order each.
TEST_F(ModuleTest, ElfFaultWalks) {
    for (const elf_row &row : elf_rows())
        for (int variant : {0, 3}) {
            elf_image img = image_of(row, variant);
            const bytes data = build_row(row, img);
            if (data.size() > 64 * 1024) continue;
            SCOPED_TRACE(std::string(row.name) + " variant " + std::to_string(variant));
            auto walk = [&] {
                scan_file *f = open_scan_file(host_, data);
                if (!f) return std::string("no file");
                std::string d = elf_digest(api_, f, img, "cihsgao", kProbes);
                close_scan_file(host_, f);
                return d;
            };
            expect_survives_alloc_failures(host_, walk);
            expect_survives_read_failures(host_, walk);
        }
}

// elf_read: the head serves what it holds, the file the rest; offsets up to
// the file's size pass; a block the module allocated is the caller's, even
// for 0 bytes, unless the read failed.
struct read_row {
    const char *name;
    uint64_t offset, count;
    bool own_buffer;
    char fault;  // 's' seeks fail, 'r' reads fail
    uint64_t got;
    int32_t code;
    uint64_t reads;
    bool handed_over;
};

TEST_F(ModuleTest, ElfRead) {
    bytes data(30000);
    for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i * 7);
    memcpy(data.data(), "\x7F" "ELF", 4);
    elf_reader *r = call<SLOT_ELF_READER_GET>(api_, create(data));
    ASSERT_NE(r, nullptr);
    const read_row rows[] = {
        {"in_head", 20000, 100, true, 0, 100, 0, 0, false},
        {"across_head_end", 20400, 200, false, 0, 200, 0, 1, true},
        {"at_file_size", 30000, 8, true, 0, 0, 0, 1, false},
        {"past_file_size", 30001, 8, true, 0, 0, ELF_ERR_OFFSET, 0, false},
        {"negative", ~0ull, 8, true, 0, 0, ELF_ERR_OFFSET, 0, false},
        {"nothing", 0, 0, true, 0, 0, 0, 0, false},
        {"at_end_allocates", 30000, 64, false, 0, 0, 0, 1, true},
        {"seek_fails", 20400, 200, false, 's', 0, ELF_ERR_SEEK, 0, false},
        {"seek_fails_own_buffer", 20400, 200, true, 's', 0, ELF_ERR_SEEK, 0, false},
        {"read_fails", 25000, 200, true, 'r', 0, ELF_ERR_READ, 1, false},
    };
    for (const read_row &row : rows) {
        SCOPED_TRACE(row.name);
        uint8_t buffer[256];
        uint8_t *p = row.own_buffer ? buffer : nullptr;
        kqhost_fail_seeks(host_, row.fault == 's');
        kqhost_fail_reads(host_, row.fault == 'r');
        const uint64_t reads = calls(KQHOST_CALL_READ), live = live_blocks();
        EXPECT_EQ(call<SLOT_ELF_READ>(api_, r, &p, row.count, row.offset), row.got);
        kqhost_fail_seeks(host_, 0);
        kqhost_fail_reads(host_, 0);
        EXPECT_EQ(call<SLOT_ELF_GET_LAST_ERROR>(api_, r), row.code);
        EXPECT_EQ(calls(KQHOST_CALL_READ) - reads, row.reads);
        if (row.got) {
            EXPECT_EQ(memcmp(p, &data[row.offset], row.got), 0);
        }
        EXPECT_EQ(row.own_buffer ? p == buffer : p != nullptr, row.own_buffer || row.handed_over);
        EXPECT_EQ(live_blocks(), live + (row.handed_over ? 1 : 0));
        if (row.handed_over) kqhost_services(host_)->free(ctx(), instance(), p);
    }
    EXPECT_EQ(call<SLOT_ELF_READ>(api_, r, nullptr, 8, 0), 0u);

    // Without a size from the host there is no bounds test.
    uint32_t handle = open_bytes(data);
    kqhost_set_reported_size(host_, handle, 0);
    elf_reader *unsized = call<SLOT_ELF_READER_GET>(api_, create_from_handle(handle));
    uint8_t *p = data.data();
    call<SLOT_ELF_READ>(api_, unsized, &p, 4, ~0ull - 1);
    EXPECT_NE(call<SLOT_ELF_GET_LAST_ERROR>(api_, unsized), ELF_ERR_OFFSET);
}

// The reader is attached once; a file without the magic, or whose reader
// could not be made, gets none and is not asked again.
TEST_F(ModuleTest, ElfReaderLife) {
    for (int wrong = 0; wrong < 4; wrong++) {  // each byte of the magic counts
        bytes data = elf_image::executable(2, false).build();
        data[wrong] ^= 0x20;
        scan_file *plain_file = create(data);
        EXPECT_EQ(call<SLOT_ELF_READER_GET>(api_, plain_file), nullptr) << wrong;
        for (attached_data *a = plain_file->attached; a; a = a->next) EXPECT_NE(a->type, ATTACHED_ELF);
    }
    scan_file *f = create(elf_image::executable(2, false).build());
    elf_reader *r = call<SLOT_ELF_READER_GET>(api_, f);
    EXPECT_EQ(call<SLOT_ELF_READER_GET>(api_, f), r);
    const elf_section *last = nullptr;
    EXPECT_EQ(call<SLOT_ELF_GET_SECTION_BY_NAME>(api_, r, ".shstrtab", &last), 0) << "a name that ends the table";
    scan_file *g = create(elf_image::executable(1, true).build());
    uint64_t size = 0;
    call<SLOT_FILE_GET_REGION>(api_, g, REGION_HEAD, &size);
    kqhost_fail_alloc_at(host_, 3);  // attachment, list node, then the reader
    EXPECT_EQ(call<SLOT_ELF_READER_GET>(api_, g), nullptr);
    kqhost_fail_alloc_at(host_, 0);
    const uint64_t allocs = allocations(host_);
    EXPECT_EQ(call<SLOT_ELF_READER_GET>(api_, g), nullptr);
    EXPECT_EQ(allocations(host_), allocs);
    // one null-argument row per slot that takes an out pointer
    uint32_t n = 0;
    EXPECT_EQ(call<SLOT_ELF_GET_SECTION_TABLE>(api_, r, nullptr, &n), -1);
    EXPECT_EQ(call<SLOT_ELF_GET_SEGMENT_TABLE>(api_, r, nullptr, &n), -1);
    EXPECT_EQ(call<SLOT_ELF_GET_SECTION_BY_INDEX>(api_, r, 0, nullptr), -1);
    EXPECT_EQ(call<SLOT_ELF_GET_SEGMENT_BY_INDEX>(api_, r, 0, nullptr), -1);
    EXPECT_EQ(call<SLOT_ELF_GET_HEADER>(api_, r, nullptr), -1);
    EXPECT_EQ(call<SLOT_ELF_GET_SECTION_BY_NAME>(api_, r, nullptr, &last), -1);
    EXPECT_EQ(call<SLOT_ELF_GET_SECTION_NAME>(api_, r, nullptr), nullptr);
    EXPECT_EQ(call<SLOT_ELF_GET_LAST_ERROR>(api_, r), 0) << "refused without a code";
    EXPECT_EQ(call<SLOT_ELF_READER_GET>(api_, nullptr), nullptr);
    EXPECT_EQ(call<SLOT_ELF_GET_LAST_ERROR>(api_, nullptr), -1);
    EXPECT_EQ(call<SLOT_ELF_CHECK>(api_, nullptr, 0), -1);
    EXPECT_EQ(call<SLOT_ELF_GET_SECTION_COUNT>(api_, nullptr), 0u);
    EXPECT_EQ(call<SLOT_ELF_GET_IMAGE_BASE>(api_, nullptr), ~0ull);
}

}  // namespace
}  // namespace kqtest
