// A full walk of the ELF API over the same small executable in each class and
// byte order, and the same walk with each of its allocations failing in turn.
#include <string.h>

#include "elf_fixture.h"

namespace kqtest {
namespace {

struct variant {
    int elf_class;
    bool big;
};

class ElfWalk : public ElfTest, public ::testing::WithParamInterface<variant> {
protected:
    elf_image image() { return elf_image::executable(GetParam().elf_class, GetParam().big); }
};

TEST_P(ElfWalk, EveryOperationAnswersFromTheFile) {
    elf_image img = image();
    elf_reader *r = reader_for(img);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(check(r, 1), 1);
    EXPECT_EQ(get_class(r), uint32_t(GetParam().elf_class));
    EXPECT_EQ(encoding(r), GetParam().big ? 2u : 1u);

    const elf_header *h = header(r);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->e_type, 2);
    EXPECT_EQ(h->e_entry, 0x401000u);
    EXPECT_EQ(h->e_phoff, img.built_phoff);
    EXPECT_EQ(h->e_shoff, img.built_shoff);
    EXPECT_EQ(h->e_ehsize, img.ehdr_size());
    EXPECT_EQ(h->e_phentsize, img.phdr_size());
    EXPECT_EQ(h->e_shnum, 6);
    EXPECT_EQ(h->e_shstrndx, 5);
    EXPECT_EQ(h->e_ident[4], GetParam().elf_class);

    EXPECT_EQ(section_count(r), 6u);
    const elf_section *table = nullptr;
    uint32_t n = 0;
    ASSERT_EQ(sections(r, &table, &n), 0);
    ASSERT_EQ(n, 6u);
    EXPECT_STREQ(name_of(r, &table[1]), ".text");
    EXPECT_STREQ(name_of(r, &table[5]), ".shstrtab");
    EXPECT_EQ(table[2].sh_addr, 0x402000u);
    EXPECT_EQ(table[2].sh_flags, 3u);
    EXPECT_EQ(table[3].sh_size, 0x100u);
    EXPECT_EQ(section_named(r, ".data"), &table[2]);
    EXPECT_EQ(section_named(r, ".dat"), nullptr);
    EXPECT_EQ(last_error(r), ELF_ERR_NO_SECTION);
    EXPECT_EQ(section(r, 4), &table[4]);
    EXPECT_EQ(section_at_va(r, 0x40201F), &table[3]);  // .bss
    EXPECT_EQ(section_at_pa(r, 0x401010), &table[1]);

    EXPECT_EQ(segment_count(r), 3u);
    const elf_segment *segs = nullptr;
    ASSERT_EQ(segments(r, &segs, &n), 0);
    ASSERT_EQ(n, 3u);
    EXPECT_EQ(segs[1].p_memsz, 0x110u);
    EXPECT_EQ(segs[0].p_flags, 5u);
    EXPECT_EQ(segment(r, 2), &segs[2]);
    EXPECT_EQ(segment_at_va(r, 0x40210F), &segs[1]);
    EXPECT_EQ(segment_at_pa(r, 0x403000), &segs[2]);

    EXPECT_EQ(image_base(r), 0x401000u);
    EXPECT_EQ(va_to_offset(r, 0x402008), segs[1].p_offset + 8);
    EXPECT_EQ(offset_to_va(r, segs[0].p_offset + 4), 0x401004u);
    EXPECT_EQ(last_error(r), 0);
}

// Every allocation of a full walk, failed in turn: each operation either
// answers as in the walk above or fails with its documented result, and
// nothing is left once the scan_file is gone.
TEST_P(ElfWalk, AllocationFailureAtEveryPointLeaksNothing) {
    bytes file = image().build();
    bool completed = false;
    uint64_t nth = 1;
    for (; nth < 200 && !completed; nth++) {
        SCOPED_TRACE("failing allocation " + std::to_string(nth));
        uint64_t before = live_blocks();
        scan_file *f = create(file);
        if (!f) continue;  // the scan_file itself could not be had
        kqhost_fail_alloc_at(host_, nth);
        elf_reader *r = get(f);
        bool ok = r != nullptr;
        if (r) {
            int32_t c = check(r, 1);
            EXPECT_TRUE(c == 1 || (c == -1 && last_error(r) == ELF_ERR_NO_MEMORY));
            ok &= c == 1;
            const elf_header *h = header(r);
            ok &= h != nullptr;
            ok &= section_count(r) == 6;
            const elf_section *text = section_named(r, ".text");
            ok &= text != nullptr && text->sh_addr == 0x401000;
            const char *name = text ? name_of(r, text) : nullptr;
            ok &= name && strcmp(name, ".text") == 0;
            ok &= segment(r, 1) != nullptr;
            ok &= segment_at_va(r, 0x401000) != nullptr;
            ok &= section_at_pa(r, 0x402000) != nullptr;
            uint64_t base = image_base(r);
            EXPECT_TRUE(base == 0x401000u || base == ~0ull);
            ok &= base == 0x401000u;
            const elf_segment *first = segment(r, 0);
            ok &= first && va_to_offset(r, 0x401004) == first->p_offset + 4;
        }
        completed = ok;
        kqhost_fail_alloc_at(host_, 0);
        destroy(f);
        EXPECT_EQ(live_blocks(), before);
    }
    EXPECT_TRUE(completed) << "the walk never succeeded";
    // attachment, its node, reader, ident block, header image and copy,
    // normalised header, two section tables and their image, names,
    // two program header tables and their image: each failed once.
    EXPECT_GE(nth, 15u);
}

// A failed allocation in the reader's own tables is reported as 101 and the
// table is loaded on the next call.
TEST_P(ElfWalk, FailedTableAllocationIsRetriedOnTheNextCall) {
    elf_image img = image();
    elf_reader *r = reader_for(img);
    ASSERT_NE(header(r), nullptr);
    for (int table = 0; table < 2; table++) {
        kqhost_fail_all_allocs(host_, 1);
        const elf_section *s = nullptr;
        const elf_segment *p = nullptr;
        uint32_t n = 0;
        EXPECT_EQ(table ? segments(r, &p, &n) : sections(r, &s, &n), -1);
        EXPECT_EQ(last_error(r), ELF_ERR_NO_MEMORY);
        kqhost_fail_all_allocs(host_, 0);
        EXPECT_EQ(table ? segments(r, &p, &n) : sections(r, &s, &n), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(ClassAndByteOrder, ElfWalk,
                         ::testing::Values(variant{1, false}, variant{1, true}, variant{2, false}, variant{2, true}),
                         [](const ::testing::TestParamInfo<variant> &i) {
                             return std::string(i.param.elf_class == 1 ? "Elf32" : "Elf64") +
                                    (i.param.big ? "BigEndian" : "LittleEndian");
                         });

}  // namespace
}  // namespace kqtest
