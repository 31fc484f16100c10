// Slots 6-11: signatures, head thresholds, head-or-file sourcing, the
// 256-section cap and the load-once cache.
#include "pe/pe_image.h"
#include "support/module_fixture.h"

namespace kqtest {
namespace {

class PeHeadersTest : public ModuleTest {
protected:
    const uint8_t *dos(scan_file *f) { return slot<pe_get_dos_header_fn>(SLOT_PE_GET_DOS_HEADER)(f); }
    const uint8_t *nt32(scan_file *f) { return slot<pe_get_nt_headers32_fn>(SLOT_PE_GET_NT_HEADERS32)(f); }
    const uint8_t *nt64(scan_file *f) { return slot<pe_get_nt_headers64_fn>(SLOT_PE_GET_NT_HEADERS64)(f); }
    const uint8_t *sec32(scan_file *f, uint32_t *n) { return slot<pe_get_sections32_fn>(SLOT_PE_GET_SECTIONS32)(f, n); }
    const uint8_t *sec64(scan_file *f, uint32_t *n) { return slot<pe_get_sections64_fn>(SLOT_PE_GET_SECTIONS64)(f, n); }
    const uint8_t *ne(scan_file *f) { return slot<pe_get_ne_header_fn>(SLOT_PE_GET_NE_HEADER)(f); }
};

TEST_F(PeHeadersTest, Pe32ImageHasOnlyThePe32Records) {
    bytes image = build_pe(two_sections(false));
    scan_file *f = create(image);
    const uint8_t *d = dos(f);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(memcmp(d, image.data(), 64), 0);
    const uint8_t *nt = nt32(f);
    ASSERT_NE(nt, nullptr);
    EXPECT_EQ(memcmp(nt, image.data() + 0x80, 248), 0);
    uint32_t n = 99;
    const uint8_t *t = sec32(f, &n);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(memcmp(t, image.data() + section_table_offset(two_sections(false)), 80), 0);
    EXPECT_EQ(nt64(f), nullptr);
    n = 77;
    EXPECT_EQ(sec64(f, &n), nullptr);
    EXPECT_EQ(n, 77u) << "no PE32+ headers: the count is left alone";
    EXPECT_EQ(ne(f), nullptr);
}

TEST_F(PeHeadersTest, Pe32PlusImageHasOnlyThePe32PlusRecords) {
    bytes image = build_pe(two_sections(true));
    scan_file *f = create(image);
    EXPECT_EQ(nt32(f), nullptr);
    uint32_t n = 0;
    EXPECT_EQ(sec32(f, &n), nullptr);
    const uint8_t *nt = nt64(f);
    ASSERT_NE(nt, nullptr);
    EXPECT_EQ(memcmp(nt, image.data() + 0x80, 264), 0);
    const uint8_t *t = sec64(f, &n);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(get32(t + 40 + 20), 0xC00u);
}

class DosSignatureTest : public PeHeadersTest, public ::testing::WithParamInterface<std::pair<const char *, bool>> {};

TEST_P(DosSignatureTest, AcceptsMzMyAndZmOnly) {
    pe_spec s = two_sections();
    s.dos_signature = GetParam().first;
    scan_file *f = create(build_pe(s));
    bool ok = GetParam().second;
    EXPECT_EQ(dos(f) != nullptr, ok);
    EXPECT_EQ(nt32(f) != nullptr, ok);
    uint32_t n = 0;
    EXPECT_EQ(sec32(f, &n) != nullptr, ok);
    EXPECT_EQ(nt64(f), nullptr);
    scan_file *g = create(build_ne());
    EXPECT_NE(ne(g), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Signatures, DosSignatureTest,
                         ::testing::Values(std::make_pair("MZ", true), std::make_pair("MY", true),
                                           std::make_pair("ZM", true), std::make_pair("Mz", false),
                                           std::make_pair("ZZ", false), std::make_pair("YM", false)),
                         [](const auto &info) { return std::string(info.param.first); });

TEST_F(PeHeadersTest, LowerCaseZFailsEverySlot) {
    pe_spec s = two_sections();
    s.dos_signature = "Mz";
    scan_file *f = create(build_pe(s));
    uint32_t n = 5;
    EXPECT_EQ(dos(f), nullptr);
    EXPECT_EQ(nt32(f), nullptr);
    EXPECT_EQ(sec32(f, &n), nullptr);
    EXPECT_EQ(nt64(f), nullptr);
    EXPECT_EQ(sec64(f, &n), nullptr);
    bytes nebytes = build_ne();
    nebytes[1] = 'z';
    EXPECT_EQ(ne(create(nebytes)), nullptr);
}

// Head sizes around each loader's minimum: a file of exactly that size is enough.
struct threshold_case {
    const char *name;
    uint64_t size;
    bool dos, nt32, nt64, ne;
};

void PrintTo(const threshold_case &c, std::ostream *os) { *os << c.name; }

class HeadThresholdTest : public PeHeadersTest, public ::testing::WithParamInterface<threshold_case> {};

TEST_P(HeadThresholdTest, ShortHeadsAreRejected) {
    const threshold_case &c = GetParam();
    // Records at offset 4 so that they fit in every head that is long enough.
    pe_spec s32 = two_sections(false), s64 = two_sections(true);
    s32.lfanew = s64.lfanew = 0x40;
    s32.sections = s64.sections = {};
    s32.number_of_sections = s64.number_of_sections = 0;
    s32.file_size = s64.file_size = c.size;
    scan_file *f32 = create(build_pe(s32));
    scan_file *f64 = create(build_pe(s64));
    scan_file *fne = create(build_ne(0x40, c.size));
    EXPECT_EQ(dos(f32) != nullptr, c.dos);
    EXPECT_EQ(nt32(f32) != nullptr, c.nt32);
    EXPECT_EQ(nt64(f64) != nullptr, c.nt64);
    EXPECT_EQ(ne(fne) != nullptr, c.ne);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, HeadThresholdTest,
    ::testing::Values(threshold_case{"size63", 63, false, false, false, false},
                      threshold_case{"size64", 64, true, false, false, false},
                      threshold_case{"size127", 127, true, false, false, false},
                      threshold_case{"size128", 128, true, false, false, true},
                      threshold_case{"size311", 311, true, false, false, true},
                      threshold_case{"size312", 312, true, true, false, true},
                      threshold_case{"size327", 327, true, true, false, true},
                      threshold_case{"size328", 328, true, true, true, true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(PeHeadersTest, RecordEndingAtTheHeadSizeIsReadFromTheFile) {
    // e_lfanew + 248 == head size (the whole 400-byte file): not copied from the head.
    pe_spec s = two_sections();
    s.sections = {};
    s.number_of_sections = 0;
    s.lfanew = 400 - 248;
    s.file_size = 400;
    scan_file *f = create(build_pe(s));
    uint64_t reads = calls(KQHOST_CALL_READ);
    ASSERT_NE(nt32(f), nullptr);
    EXPECT_EQ(calls(KQHOST_CALL_READ) - reads, 2u) << "the head, then the record itself";

    s.lfanew = 400 - 249;  // one byte inside: copied
    scan_file *g = create(build_pe(s));
    reads = calls(KQHOST_CALL_READ);
    ASSERT_NE(nt32(g), nullptr);
    EXPECT_EQ(calls(KQHOST_CALL_READ) - reads, 1u);
}

TEST_F(PeHeadersTest, HeadersBeyondTheHeadAreReadFromTheFile) {
    pe_spec s = two_sections();
    s.lfanew = 30000;
    s.sections = {{0x100, 0x1000, 0x200, 0x8000}};
    bytes image = build_pe(s);
    scan_file *f = create(image);
    ASSERT_NE(nt32(f), nullptr);
    uint32_t n = 0;
    const uint8_t *t = sec32(f, &n);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(get32(t + 20), 0x8000u);
    EXPECT_EQ(calls(KQHOST_CALL_READ_AT), 1u);

    // A file that ends inside the NT headers.
    s.file_size = 30000 + 100;
    EXPECT_EQ(nt32(create(build_pe(s))), nullptr);
}

TEST_F(PeHeadersTest, SignatureCheckedInTheHeadAndInTheRecord) {
    bytes image = build_pe(two_sections());
    image[0x81] = 'X';  // "PX": quick test fails, nothing is allocated
    scan_file *f = create(image);
    ASSERT_NE(dos(f), nullptr);  // the reader and the head exist from here on
    uint64_t allocs = calls(KQHOST_CALL_ALLOC);
    EXPECT_EQ(nt32(f), nullptr);
    EXPECT_EQ(calls(KQHOST_CALL_ALLOC), allocs) << "no record is allocated";

    image = build_pe(two_sections());
    image[0x82] = 1;  // "PE\1\0": caught on the whole signature
    EXPECT_EQ(nt32(create(image)), nullptr);
}

TEST_F(PeHeadersTest, SectionCountIsCappedAt256) {
    pe_spec s = two_sections();
    s.number_of_sections = 300;
    s.sections.assign(300, section_spec{0x10, 0x1000, 0x10, 0x400});
    scan_file *f = create(build_pe(s));
    uint32_t n = 0;
    const uint8_t *t = sec32(f, &n);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(n, 256u);
    n = 0;
    EXPECT_EQ(sec32(f, &n), t);
    EXPECT_EQ(n, 256u) << "the stored count is reported again";
}

TEST_F(PeHeadersTest, NoSectionsGivesNoTable) {
    pe_spec s = two_sections();
    s.sections = {};
    s.number_of_sections = 0;
    scan_file *f = create(build_pe(s));
    uint32_t n = 55;
    EXPECT_EQ(sec32(f, &n), nullptr);
    EXPECT_EQ(n, 0u);
    n = 55;
    EXPECT_EQ(sec32(f, &n), nullptr);
    EXPECT_EQ(n, 55u) << "a later null result leaves the count alone";
}

TEST_F(PeHeadersTest, TableCutByTheEndOfTheFileKeepsItsCountWithZeros) {
    pe_spec s = two_sections();
    s.lfanew = 20000;  // the table starts beyond the head
    s.sections = {{0x100, 0x1000, 0x100, 0x200}, {0x100, 0x2000, 0x100, 0x300}, {0x100, 0x3000, 0x100, 0x400}};
    s.file_size = section_table_offset(s) + 50;  // one header and ten bytes of the second
    scan_file *f = create(build_pe(s));
    uint32_t n = 0;
    const uint8_t *t = sec32(f, &n);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(get32(t + 12), 0x1000u);
    EXPECT_EQ(get32(t + 40 + 8), 0x100u) << "the bytes that were read";
    for (int i = 50; i < 120; i++) EXPECT_EQ(t[i], 0) << i;
}

TEST_F(PeHeadersTest, FailedTableReadReleasesTheBlock) {
    pe_spec s = two_sections();
    s.lfanew = 20300;  // headers and table beyond the head
    scan_file *f = create(build_pe(s));
    ASSERT_NE(nt32(f), nullptr);
    kqhost_fail_reads(host_, 1);
    uint32_t n = 0;
    EXPECT_EQ(sec32(f, &n), nullptr);
    EXPECT_EQ(n, 2u) << "the clamped count is reported with the failure";
    kqhost_fail_reads(host_, 0);
    uint64_t reads = calls(KQHOST_CALL_READ_AT);
    EXPECT_EQ(sec32(f, &n), nullptr) << "a failure is not retried";
    EXPECT_EQ(calls(KQHOST_CALL_READ_AT), reads);
}

TEST_F(PeHeadersTest, RecordsAreLoadedOnce) {
    scan_file *f = create(build_pe(two_sections()));
    const uint8_t *a = nt32(f);
    uint32_t n = 0;
    const uint8_t *t = sec32(f, &n);
    uint64_t allocs = calls(KQHOST_CALL_ALLOC), reads = calls(KQHOST_CALL_READ);
    EXPECT_EQ(nt32(f), a);
    EXPECT_EQ(sec32(f, &n), t);
    EXPECT_EQ(sec32(f, nullptr), t) << "a null count pointer is accepted";
    EXPECT_EQ(calls(KQHOST_CALL_ALLOC), allocs);
    EXPECT_EQ(calls(KQHOST_CALL_READ), reads);
    EXPECT_EQ(dos(nullptr), nullptr);
    EXPECT_EQ(nt32(nullptr), nullptr);
    EXPECT_EQ(sec64(nullptr, &n), nullptr);
    EXPECT_EQ(ne(nullptr), nullptr);
}

TEST_F(PeHeadersTest, NeHeaderInsideAndBeyondTheHead) {
    bytes image = build_ne(0x80);
    scan_file *f = create(image);
    const uint8_t *h = ne(f);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(memcmp(h, image.data() + 0x80, 64), 0);
    EXPECT_EQ(nt32(f), nullptr);

    scan_file *far = create(build_ne(30000, 30064));
    ASSERT_NE(ne(far), nullptr);
    EXPECT_EQ(ne(create(build_ne(30000, 30063))), nullptr) << "the file ends inside the record";
    bytes bad = build_ne(30000, 30064);
    bad[30001] = 'X';
    EXPECT_EQ(ne(create(bad)), nullptr) << "the signature is checked after the read";
}

TEST_F(PeHeadersTest, HugeLfanewDoesNotOverflow) {
    for (uint32_t lfanew : {0xFFFFFFFFu, 0xFFFFFFFEu, 0x80000000u, 20478u, 20479u, 20480u}) {
        pe_spec s = two_sections();
        s.sections = {};
        s.number_of_sections = 0;
        s.file_size = 1024;
        bytes image = build_pe(s);
        put32(image, 0x3C, lfanew);
        scan_file *f = create(image);
        EXPECT_EQ(nt32(f), nullptr) << lfanew;
        EXPECT_EQ(nt64(f), nullptr) << lfanew;
        EXPECT_EQ(ne(f), nullptr) << lfanew;
        EXPECT_NE(dos(f), nullptr);
    }
}

}  // namespace
}  // namespace kqtest
