// Section and program header tables: caching, caps, extended numbering,
// truncation, names, lookups by address, and the address translations.
#include <string.h>

#include "elf_fixture.h"

namespace kqtest {
namespace {

using ElfTables = ElfTest;

elf_image plain(int cls, bool big = false) {
    elf_image img;
    img.elf_class = cls;
    img.big = big;
    return img;
}

TEST_F(ElfTables, EachTableIsReadFromTheFileOnce) {
    elf_image img = elf_image::executable(2, true);
    img.data_size = 30000;  // the section table and the names lie past the head
    img.segments.clear();
    img.type = 1;
    bytes data = img.build();
    scan_file *f = create(data);
    elf_reader *r = get(f);
    ASSERT_NE(header(r), nullptr);
    uint64_t reads = calls(KQHOST_CALL_READ);
    const elf_section *s = nullptr;
    uint32_t n = 0;
    ASSERT_EQ(sections(r, &s, &n), 0);
    EXPECT_EQ(calls(KQHOST_CALL_READ), reads + 1);
    ASSERT_NE(section_named(r, ".bss"), nullptr);
    ASSERT_NE(section_named(r, ".data"), nullptr);
    EXPECT_EQ(calls(KQHOST_CALL_READ), reads + 2);  // the names, once
    sections(r, &s, &n);
    section(r, 3);
    name_of(r, s + 1);
    EXPECT_EQ(calls(KQHOST_CALL_READ), reads + 2);
}

TEST_F(ElfTables, SectionTableIsCappedAtEightThousandRecords) {
    elf_image img = plain(1);
    img.names = false;
    img.sections.resize(9999, elf_image::section{"", 1});
    elf_reader *r = reader_for(img);
    EXPECT_EQ(section_count(r), 10000u);
    const elf_section *s = nullptr;
    uint32_t n = 0;
    ASSERT_EQ(sections(r, &s, &n), 0);
    EXPECT_EQ(n, 8192u);
    EXPECT_EQ(section(r, 9000), nullptr);
    EXPECT_EQ(last_error(r), ELF_ERR_INDEX);
    EXPECT_NE(section(r, 8191), nullptr);
}

TEST_F(ElfTables, ExtendedNumberingTakesTheCountFromSectionZero) {
    for (int cls = 1; cls <= 2; cls++) {
        elf_image img = plain(cls, cls == 1);
        img.sections.resize(298, elf_image::section{"", 1});
        img.sections[200].name = ".far";
        img.shnum = 0;
        img.section0_size = 300;
        img.shstrndx = 0xFFFF;
        img.section0_link = 299;
        elf_reader *r = reader_for(img);
        EXPECT_EQ(section_count(r), 300u);
        uint32_t n = 0;
        const elf_section *s = nullptr;
        ASSERT_EQ(sections(r, &s, &n), 0);
        EXPECT_EQ(n, 300u);
        const elf_section *far = section_named(r, ".far");
        EXPECT_EQ(far, s + 201);
        EXPECT_STREQ(name_of(r, s + 299), ".shstrtab");
    }
}

TEST_F(ElfTables, TableCutByTheEndOfFileKeepsItsWholeRecords) {
    elf_image img = plain(1);
    img.names = false;
    img.sections.resize(9, elf_image::section{"", 1});
    bytes data = img.build();
    data.resize(img.built_shoff + 290);
    elf_reader *r = reader_for(data);
    uint32_t n = 0;
    const elf_section *s = nullptr;
    ASSERT_EQ(sections(r, &s, &n), 0);
    EXPECT_EQ(n, 7u);
    EXPECT_EQ(section_count(r), 10u);

    elf_image p = plain(1);
    p.names = false;
    p.segments.resize(4);
    p.shoff = 0;
    p.shnum = 0;
    data = p.build();
    data.resize(p.built_phoff + 100);
    r = reader_for(data);
    const elf_segment *g = nullptr;
    ASSERT_EQ(segments(r, &g, &n), 0);
    EXPECT_EQ(n, 3u);
}

TEST_F(ElfTables, TableShorterThanOneRecordIsNotCached) {
    elf_image img = plain(2);
    img.segments.resize(2);
    bytes data = img.build();
    data.resize(img.built_phoff + 50);
    elf_reader *r = reader_for(data);
    const elf_segment *g = nullptr;
    EXPECT_EQ(segments(r, &g, nullptr), -1);
    uint64_t allocs = calls(KQHOST_CALL_ALLOC);
    EXPECT_EQ(segments(r, &g, nullptr), -1);
    EXPECT_GT(calls(KQHOST_CALL_ALLOC), allocs);  // tried again
}

TEST_F(ElfTables, ProgramHeadersAreCappedAtTwoHundredFiftySix) {
    elf_image img = plain(2, true);
    img.segments.resize(300, elf_image::segment{1, 4, 0, 0x1000, 0x1000, 0, 0x10});
    img.segments[299].vaddr = 0x10;
    elf_reader *r = reader_for(img);
    uint32_t n = 0;
    const elf_segment *g = nullptr;
    ASSERT_EQ(segments(r, &g, &n), 0);
    EXPECT_EQ(n, 256u);
    EXPECT_NE(segment(r, 255), nullptr);
    EXPECT_EQ(segment(r, 256), nullptr);
    EXPECT_EQ(last_error(r), ELF_ERR_INDEX);
    EXPECT_EQ(segment_count(r), 300u);
    EXPECT_EQ(image_base(r), 0x1000u);  // the loaded records only
}

TEST_F(ElfTables, NameTableIsCappedAndNamesNeverRunPastIt) {
    elf_image img = plain(2);
    img.sections = {{".a", 1}, {".b", 1}};
    img.extra_names.assign(100000, 'x');
    memcpy(&img.extra_names[40000], "far", 4);
    img.sections[1].name_offset = 1 + 3 + 3 + 10 + 40000;  // "far", past the cap
    img.sections[0].name_offset = 32767;                   // 'x' up to the end: unterminated
    elf_reader *r = reader_for(img);
    const elf_section *s = nullptr;
    ASSERT_EQ(sections(r, &s, nullptr), 0);
    EXPECT_EQ(name_of(r, s + 1), nullptr);
    EXPECT_EQ(name_of(r, s + 2), nullptr);
    EXPECT_STREQ(name_of(r, s + 3), ".shstrtab");
    EXPECT_EQ(section_named(r, "x"), nullptr);
    EXPECT_EQ(section_named(r, "far"), nullptr);
}

TEST_F(ElfTables, NoNameTableFailsNameLookups) {
    elf_image img = elf_image::executable(1, false);
    img.shstrndx = 0;
    elf_reader *r = reader_for(img);
    const elf_section *s = section(r, 1);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(name_of(r, s), nullptr);
    EXPECT_EQ(last_error(r), ELF_ERR_NO_SECTION_NAMES);
    EXPECT_EQ(section_named(r, ".text"), nullptr);
    EXPECT_EQ(last_error(r), ELF_ERR_NO_SECTION);
    EXPECT_EQ(slot<elf_get_section_by_name_fn>(SLOT_ELF_GET_SECTION_BY_NAME)(r, nullptr, &s), -1);
}

TEST_F(ElfTables, SectionAddressLookups) {
    elf_image img = plain(2);
    img.sections = {{".zero", 1, 2, 4096, 0, 0}, {".note", 1, 0, 0, 0, 0x100}, {".big", 1, 2, 0x2000, 0, 0x100}};
    elf_reader *r = reader_for(img);
    const elf_section *s = nullptr;
    ASSERT_EQ(sections(r, &s, nullptr), 0);
    EXPECT_EQ(section_at_va(r, 4096), s + 1);
    EXPECT_EQ(section_at_va(r, 0x10), nullptr);  // sh_addr 0 without SHF_ALLOC
    EXPECT_EQ(section_at_va(r, 0x20FF), s + 3);
    EXPECT_EQ(section_at_va(r, 0x2100), nullptr);
    EXPECT_EQ(last_error(r), ELF_ERR_NO_SECTION);
    EXPECT_EQ(section_at_pa(r, 0x2000), nullptr);  // no segments: 210 becomes 209
    EXPECT_EQ(last_error(r), ELF_ERR_NO_SECTION);
}

TEST_F(ElfTables, SegmentAddressLookups) {
    const uint64_t top = ~uint64_t{0} - 4095;
    elf_image img = plain(2, true);
    img.segments = {
        {1, 4, 0, 0x1000, 0x1000, 0, 0},      // PT_LOAD of size 0
        {4, 4, 0, 0x3000, 0x3000, 0, 0},      // PT_NOTE of size 0
        {1, 4, 0, 0, 0, 0, 0},                // start 0, size 0
        {1, 4, 0, 0x400, 0, 0, 0x100},        // p_paddr differs from p_vaddr
        {1, 4, 0, 0x420, 0x420, 0, 0x100},    // overlaps the one before
        {1, 4, 0, top, top, 0, 8192},         // end wraps past 2^64
        {1, 4, 0, 0x0000000000000102, 0x102, 0, 1},
    };
    elf_reader *r = reader_for(img);
    const elf_segment *g = nullptr;
    ASSERT_EQ(segments(r, &g, nullptr), 0);
    EXPECT_EQ(g[6].p_vaddr, 0x102u);
    EXPECT_EQ(segment_at_va(r, 0x1000), g + 0);
    EXPECT_EQ(segment_at_va(r, 0x1001), nullptr);
    EXPECT_EQ(segment_at_va(r, 0x3000), nullptr);
    EXPECT_EQ(segment_at_va(r, 0), nullptr);
    EXPECT_EQ(segment_at_pa(r, 0x10), g + 3);
    EXPECT_EQ(segment_at_va(r, 0x10), nullptr);
    EXPECT_EQ(segment_at_va(r, 0x430), g + 3);
    EXPECT_EQ(segment_at_va(r, top + 10), nullptr);
    EXPECT_EQ(last_error(r), ELF_ERR_NO_SEGMENT);
}

TEST_F(ElfTables, Elf32AddressesAreZeroExtended) {
    elf_image img = plain(1, true);
    img.segments = {{1, 4, 0, 0x80001000, 0x80001000, 0, 0x10}};
    elf_reader *r = reader_for(img);
    const elf_segment *g = segment(r, 0);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->p_vaddr, 0x80001000u);
}

TEST_F(ElfTables, NoProgramHeaders) {
    elf_image img = plain(2);
    img.segments.clear();
    img.phoff = 64;
    img.phnum = 0;
    elf_reader *r = reader_for(img);
    const elf_segment *g = nullptr;
    EXPECT_EQ(segments(r, &g, nullptr), -1);
    EXPECT_EQ(last_error(r), ELF_ERR_NO_SEGMENT_TABLE);
    EXPECT_EQ(segment_at_va(r, 0x1000), nullptr);
    EXPECT_EQ(last_error(r), ELF_ERR_NO_SEGMENT);
    EXPECT_EQ(image_base(r), ~0ull);
    EXPECT_EQ(last_error(r), 0);
    EXPECT_EQ(va_to_offset(r, 0x1000), 0u);  // the walk is empty; sections are not consulted
    EXPECT_EQ(last_error(r), ELF_ERR_ADDRESS);
    EXPECT_EQ(offset_to_va(r, 0x10), 0u);
    EXPECT_EQ(last_error(r), ELF_ERR_OFFSET);
}

TEST_F(ElfTables, ImageBaseIsTheLowestLoadAddress) {
    elf_image img = plain(1);
    img.segments = {{1, 4, 0, 0x400, 0x400, 0, 0x10}, {1, 4, 0, 0x200, 0x200, 0, 0x10}, {4, 4, 0, 0x100, 0x100, 0, 4}};
    elf_reader *r = reader_for(img);
    EXPECT_EQ(image_base(r), 0x200u);
    elf_image dyn = plain(1);
    dyn.segments = {{2, 4, 0, 0x100, 0x100, 0, 4}};
    r = reader_for(dyn);
    EXPECT_EQ(image_base(r), ~0ull);
    EXPECT_EQ(last_error(r), 0);
    EXPECT_EQ(image_base(nullptr), ~0ull);
}

TEST_F(ElfTables, TranslationsThroughSegments) {
    elf_image img = plain(2);
    img.segments = {{1, 4, 0x40, 0x100, 0x100, 0x20, 0x80}, {1, 4, 0x1000, 0x120, 0x120, 0x10, 0x10}};
    elf_reader *r = reader_for(img);  // fresh reader: the table is loaded on demand
    EXPECT_EQ(va_to_offset(r, 0x100), 0x40u);
    EXPECT_EQ(va_to_offset(r, 0x17F), 0xBFu);
    EXPECT_EQ(va_to_offset(r, 0x120), 0x60u);  // the earlier record decides
    EXPECT_EQ(last_error(r), 0);
    EXPECT_EQ(va_to_offset(r, 0x180), 0u);
    EXPECT_EQ(last_error(r), ELF_ERR_ADDRESS);
    EXPECT_EQ(offset_to_va(r, 0x70), 0x130u);  // past p_filesz, inside p_memsz
    EXPECT_EQ(offset_to_va(r, 0x5000), 0u);
    EXPECT_EQ(last_error(r), ELF_ERR_OFFSET);
}

TEST_F(ElfTables, TranslationsThroughAllocatedSections) {
    elf_image img = plain(1, true);
    img.type = 1;
    img.sections = {{".info", 1, 0, 0x300, 0x34, 0x10}, {".text", 1, 2, 0x300, 0x34, 0x10}};
    elf_reader *r = reader_for(img);
    EXPECT_EQ(va_to_offset(r, 0x305), 0x39u);
    EXPECT_EQ(offset_to_va(r, 0x39), 0x305u);
    EXPECT_EQ(last_error(r), 0);
    EXPECT_EQ(va_to_offset(r, 0x310), 0u);
    EXPECT_EQ(last_error(r), ELF_ERR_ADDRESS);

    elf_image none = plain(2);
    none.type = 3;
    none.names = false;
    none.shoff = 0;
    none.shnum = 0;
    r = reader_for(none);
    EXPECT_EQ(va_to_offset(r, 0x305), 0u);
    EXPECT_EQ(offset_to_va(r, 0x39), 0u);
    EXPECT_EQ(last_error(r), 0);
}

TEST_F(ElfTables, NullArgumentsAreRefusedWithoutACode) {
    elf_image img = elf_image::executable(2, false);
    elf_reader *r = reader_for(img);
    EXPECT_EQ(sections(r, nullptr, nullptr), -1);
    EXPECT_EQ(segments(r, nullptr, nullptr), -1);
    EXPECT_EQ(slot<elf_get_section_by_index_fn>(SLOT_ELF_GET_SECTION_BY_INDEX)(r, 0, nullptr), -1);
    EXPECT_EQ(slot<elf_get_segment_by_index_fn>(SLOT_ELF_GET_SEGMENT_BY_INDEX)(r, 0, nullptr), -1);
    EXPECT_EQ(slot<elf_get_header_fn>(SLOT_ELF_GET_HEADER)(r, nullptr), -1);
    EXPECT_EQ(name_of(r, nullptr), nullptr);
    EXPECT_EQ(last_error(r), 0);
    EXPECT_EQ(section_count(nullptr), 0u);
    EXPECT_EQ(segment_count(nullptr), 0u);
    EXPECT_EQ(va_to_offset(nullptr, 1), 0u);
    EXPECT_EQ(encoding(nullptr), 0xFFFFFFFFu);
    EXPECT_EQ(section_at_pa(nullptr, 1), nullptr);
}

}  // namespace
}  // namespace kqtest
