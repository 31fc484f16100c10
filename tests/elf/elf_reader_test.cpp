// The reader's life on a scan_file, its windowed read, the last-error word,
// identification with its corrections, and elf_check's codes in their order.
#include <string.h>

#include <functional>

#include "elf_fixture.h"

namespace kqtest {
namespace {

using ElfReader = ElfTest;

TEST_F(ElfReader, FileWithoutMagicGetsNoAttachmentOnAnyCall) {
    bytes data(100, 0);
    data[0] = 0x7F;
    scan_file *f = create(data);
    EXPECT_EQ(get(f), nullptr);
    EXPECT_EQ(get(f), nullptr);
    for (attached_data *a = f->attached; a; a = a->next) EXPECT_NE(a->type, ATTACHED_ELF);
    EXPECT_EQ(get(nullptr), nullptr);
}

TEST_F(ElfReader, ReaderIsCreatedOnceAndAttachedAsTypeTwo) {
    elf_image img = elf_image::executable(2, false);
    scan_file *f = create(img.build());
    elf_reader *r = get(f);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(get(f), r);
    int elf_nodes = 0;
    for (attached_data *a = f->attached; a; a = a->next) elf_nodes += a->type == ATTACHED_ELF;
    EXPECT_EQ(elf_nodes, 1);
}

TEST_F(ElfReader, FailedCreationIsRememberedAndNotRetried) {
    elf_image img = elf_image::executable(2, false);
    scan_file *f = create(img.build());
    uint64_t head = 0;
    reinterpret_cast<file_get_region_fn>(f->self_api[SLOT_FILE_GET_REGION])(f, REGION_HEAD, &head);
    kqhost_fail_alloc_at(host_, 3);  // attachment, list node, then the reader
    EXPECT_EQ(get(f), nullptr);
    kqhost_fail_alloc_at(host_, 0);
    uint64_t allocs = calls(KQHOST_CALL_ALLOC);
    EXPECT_EQ(get(f), nullptr);
    EXPECT_EQ(calls(KQHOST_CALL_ALLOC), allocs);
}

TEST_F(ElfReader, LastErrorIsReadOnceThenCleared) {
    elf_image img = elf_image::executable(1, false);
    elf_reader *r = reader_for(img);
    EXPECT_EQ(section(r, 99), nullptr);
    EXPECT_EQ(last_error(r), ELF_ERR_INDEX);
    EXPECT_EQ(last_error(r), 0);
    EXPECT_EQ(last_error(nullptr), -1);
}

// --- elf_read -----------------------------------------------------------

class ElfRead : public ElfTest {
protected:
    void SetUp() override {
        ElfTest::SetUp();
        data.resize(30000);
        for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i * 7);
        memcpy(data.data(), "\x7F" "ELF", 4);
        r = reader_for(data);
        ASSERT_NE(r, nullptr);
    }
    bytes data;
    elf_reader *r = nullptr;
};

TEST_F(ElfRead, BytesInTheHeadComeFromMemory) {
    uint8_t buf[100];
    uint8_t *p = buf;
    uint64_t reads = calls(KQHOST_CALL_READ);
    EXPECT_EQ(read(r, &p, 100, 20000), 100u);
    EXPECT_EQ(memcmp(buf, &data[20000], 100), 0);
    EXPECT_EQ(calls(KQHOST_CALL_READ), reads);
}

TEST_F(ElfRead, RangeAcrossTheHeadEndIsCompletedFromTheFile) {
    uint8_t *p = nullptr;
    uint64_t reads = calls(KQHOST_CALL_READ);
    ASSERT_EQ(read(r, &p, 200, 20400), 200u);
    EXPECT_EQ(memcmp(p, &data[20400], 200), 0);
    EXPECT_EQ(calls(KQHOST_CALL_READ), reads + 1);
    free_block(p);
}

TEST_F(ElfRead, OffsetAtTheFileSizeIsAllowedOnePastIsNot) {
    uint8_t buf[8];
    uint8_t *p = buf;
    EXPECT_EQ(read(r, &p, 8, data.size()), 0u);
    EXPECT_EQ(last_error(r), 0);
    EXPECT_EQ(read(r, &p, 8, data.size() + 1), 0u);
    EXPECT_EQ(last_error(r), ELF_ERR_OFFSET);
    EXPECT_EQ(read(r, &p, 8, ~0ull), 0u);  // negative as a signed offset
    EXPECT_EQ(last_error(r), ELF_ERR_OFFSET);
    EXPECT_EQ(read(r, &p, 0, 0), 0u);
    EXPECT_EQ(read(r, nullptr, 8, 0), 0u);
    EXPECT_EQ(last_error(r), 0);
}

// Found by the fuzzer (fuzz/corpus/elf/regression-read-at-end-allocates): a
// read at the end of the file delivers 0 bytes but is no failure, so the
// block elf_read allocated is handed over and must be freed by the caller.
TEST_F(ElfRead, ReadAtTheEndHandsOverItsBlock) {
    uint8_t *p = nullptr;
    EXPECT_EQ(read(r, &p, 64, data.size()), 0u);
    ASSERT_NE(p, nullptr);
    free_block(p);
}

TEST_F(ElfRead, FailedSeekAfterHeadCopyFreesOnlyItsOwnBuffer) {
    kqhost_fail_seeks(host_, 1);
    uint64_t live = live_blocks();
    uint8_t *p = nullptr;
    EXPECT_EQ(read(r, &p, 200, 20400), 0u);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(live_blocks(), live);
    EXPECT_EQ(last_error(r), ELF_ERR_SEEK);
    uint8_t buf[200];
    p = buf;
    EXPECT_EQ(read(r, &p, 200, 20400), 0u);
    EXPECT_EQ(p, buf);
    kqhost_fail_seeks(host_, 0);
    kqhost_fail_reads(host_, 1);
    EXPECT_EQ(read(r, &p, 200, 25000), 0u);
    EXPECT_EQ(last_error(r), ELF_ERR_READ);
    kqhost_fail_reads(host_, 0);
}

TEST_F(ElfReader, NoBoundsTestWhenTheHostReportsNoSize) {
    bytes data(64, 0);
    memcpy(data.data(), "\x7F" "ELF", 4);
    uint32_t h = open_bytes(data);
    kqhost_set_reported_size(host_, h, 0);
    elf_reader *r = get(create_from_handle(h));
    ASSERT_NE(r, nullptr);
    uint8_t buf[4];
    uint8_t *p = buf;
    read(r, &p, 4, 1000);  // the host may refuse the seek, but no 203
    EXPECT_NE(last_error(r), ELF_ERR_OFFSET);
    read(r, &p, 4, ~0ull - 1);  // must not reach before the head
    EXPECT_NE(last_error(r), ELF_ERR_OFFSET);
}

// --- identification ------------------------------------------------------

TEST_F(ElfReader, EncodingIsCorrectedByTheVersionField) {
    elf_image img = elf_image::executable(1, false);
    bytes data = img.build();
    data[5] = 2;  // says big-endian; e_version reads 1 only little-endian
    elf_reader *r = reader_for(data);
    EXPECT_EQ(encoding(r), 1u);
    const elf_header *h = header(r);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->e_ident[5], 2);  // the file's own bytes
    EXPECT_EQ(h->e_phnum, 3);
}

TEST_F(ElfReader, ClassIsCorrectedByTheHeaderSizeField) {
    elf_image img = elf_image::executable(1, true);
    bytes data = img.build();
    data[4] = 2;  // u16 at 40 is 52, at 52 not 64
    elf_reader *r = reader_for(data);
    EXPECT_EQ(get_class(r), 1u);
    EXPECT_EQ(check(r, 1), 1);
}

TEST_F(ElfReader, ShortFileKeepsItsIdentBytes) {
    bytes data(40, 0);
    memcpy(data.data(), "\x7F" "ELF\x07\x09\x01", 7);
    data[20] = 1;  // would correct the encoding in a whole header
    elf_reader *r = reader_for(data);
    EXPECT_EQ(get_class(r), 7u);
    EXPECT_EQ(encoding(r), 9u);
    EXPECT_EQ(check(r, 0), 0);
    EXPECT_EQ(last_error(r), ELF_ERR_CLASS);
}

TEST_F(ElfReader, FileShorterThanTheIdentIsNotValidWithoutACode) {
    elf_reader *r = reader_for(bytes{0x7F, 'E', 'L', 'F', 1, 1, 1});
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(check(r, 0), 0);
    EXPECT_EQ(last_error(r), 0);
    EXPECT_EQ(get_class(r), 0xFFFFFFFFu);
    EXPECT_EQ(header(r), nullptr);
}

TEST_F(ElfReader, ShallowCheckDoesNotReadTheHeader) {
    elf_image img = elf_image::executable(2, false);
    elf_reader *r = reader_for(img);
    uint64_t allocs = calls(KQHOST_CALL_ALLOC);
    EXPECT_EQ(check(r, 0), 1);
    EXPECT_EQ(calls(KQHOST_CALL_ALLOC), allocs + 1);  // the identification block only
    EXPECT_EQ(check(nullptr, 0), -1);
}

TEST_F(ElfReader, Elf32HeaderIsWidened) {
    elf_image img = elf_image::executable(1, true);
    img.entry = 0x80000000u;
    elf_reader *r = reader_for(img);
    const elf_header *h = header(r);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->e_entry, 0x80000000u);  // zero-extended
    EXPECT_EQ(h->e_ehsize, 52);
    EXPECT_EQ(h->e_shentsize, 40);
}

// --- elf_check codes ------------------------------------------------------

struct check_case {
    const char *what;
    std::function<void(elf_image &)> change;
    std::function<void(bytes &)> patch;
    int32_t result, code;
};

class ElfCheck : public ElfTest, public ::testing::WithParamInterface<check_case> {};

TEST_P(ElfCheck, ReportsTheFirstFailingTest) {
    for (int cls = 1; cls <= 2; cls++) {
        SCOPED_TRACE(cls);
        elf_image img = elf_image::executable(cls, cls == 2);
        if (GetParam().change) GetParam().change(img);
        bytes data = img.build();
        if (GetParam().patch) GetParam().patch(data);
        elf_reader *r = reader_for(data);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(check(r, 1), GetParam().result);
        EXPECT_EQ(last_error(r), GetParam().code);
    }
}

const check_case check_cases[] = {
    {"valid", nullptr, nullptr, 1, 0},
    {"bad_class", nullptr, [](bytes &d) { d[4] = 3, d[40] = d[41] = d[52] = d[53] = 0; }, 0, ELF_ERR_CLASS},
    {"bad_data", nullptr, [](bytes &d) { d[5] = 0, d[20] = d[21] = d[22] = d[23] = 2; }, 0, ELF_ERR_DATA},
    {"bad_ident_version", nullptr, [](bytes &d) { d[6] = 2; }, 0, ELF_ERR_IDENT_VERSION},
    {"version", [](elf_image &i) { i.version = 0; }, nullptr, 0, ELF_ERR_VERSION},
    {"ehsize", [](elf_image &i) { i.ehsize = 60; }, nullptr, 0, ELF_ERR_HEADER_SIZE},
    {"phentsize", [](elf_image &i) { i.phentsize = 40; }, nullptr, 0, ELF_ERR_HEADER_SIZE},
    {"shentsize", [](elf_image &i) { i.shentsize = 56; }, nullptr, 0, ELF_ERR_HEADER_SIZE},
    {"other_class_entry_sizes", [](elf_image &i) { i.phentsize = i.elf_class == 1 ? 56 : 32; }, nullptr, 1, 0},
    {"shnum_without_table", [](elf_image &i) { i.shoff = 0; }, nullptr, 0, ELF_ERR_NO_TABLES},
    {"phnum_without_table", [](elf_image &i) { i.phoff = 0; }, nullptr, 0, ELF_ERR_NO_TABLES},
    {"type", [](elf_image &i) { i.type = 5; }, nullptr, 0, ELF_ERR_TYPE},
    {"no_tables", [](elf_image &i) { i.type = 3, i.shoff = i.phoff = 0, i.shnum = i.phnum = 0; }, nullptr, 0,
     ELF_ERR_NO_TABLES},
    {"relocatable_without_sections", [](elf_image &i) { i.type = 1, i.shoff = 0, i.shnum = 0; }, nullptr, 0,
     ELF_ERR_NO_SECTION_TABLE},
    {"executable_without_segments", [](elf_image &i) { i.phoff = 0, i.phnum = 0; }, nullptr, 0,
     ELF_ERR_NO_SEGMENT_TABLE},
    {"shared_object_without_segments", [](elf_image &i) { i.type = 3, i.phoff = 0, i.phnum = 0; }, nullptr, 1, 0},
    {"truncated_header", nullptr, [](bytes &d) { d.resize(50); }, -1, 0},
};

INSTANTIATE_TEST_SUITE_P(Codes, ElfCheck, ::testing::ValuesIn(check_cases),
                         [](const ::testing::TestParamInfo<check_case> &i) { return std::string(i.param.what); });

}  // namespace
}  // namespace kqtest
