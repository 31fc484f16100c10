// Slots 12-17 over hand-made section tables, and slot 18 over whole images.
#include "pe/pe_image.h"
#include "support/module_fixture.h"

namespace kqtest {
namespace {

bytes table(std::initializer_list<section_spec> sections) {
    bytes t;
    for (const section_spec &s : sections) {
        size_t at = t.size();
        t.resize(at + 40);
        put32(t, at + 8, s.virtual_size);
        put32(t, at + 12, s.virtual_address);
        put32(t, at + 16, s.raw_size);
        put32(t, at + 20, s.raw_pointer);
    }
    return t;
}

class PeMappingTest : public ModuleTest {
protected:
    int32_t by_rva(const bytes &t, uint32_t v, int32_t n = -1) {
        return slot<pe_find_section_by_rva_fn>(SLOT_PE_FIND_SECTION_BY_RVA)(count(t, n), t.data(), v);
    }
    int32_t by_offset(const bytes &t, uint32_t v, int32_t n = -1) {
        return slot<pe_find_section_by_offset_fn>(SLOT_PE_FIND_SECTION_BY_OFFSET)(count(t, n), t.data(), v);
    }
    uint32_t rva_to_offset(const bytes &t, uint32_t v, int32_t n = -1) {
        return slot<pe_rva_to_offset_fn>(SLOT_PE_RVA_TO_OFFSET)(count(t, n), t.data(), v);
    }
    uint32_t offset_to_rva(const bytes &t, uint32_t v, int32_t n = -1) {
        return slot<pe_offset_to_rva_fn>(SLOT_PE_OFFSET_TO_RVA)(count(t, n), t.data(), v);
    }
    uint32_t rva_to_offset_ex(const bytes &t, uint32_t v, int32_t n = -1) {
        return slot<pe_rva_to_offset_ex_fn>(SLOT_PE_RVA_TO_OFFSET_EX)(count(t, n), t.data(), v);
    }
    uint32_t offset_to_rva_ex(const bytes &t, uint32_t v, int32_t n = -1) {
        return slot<pe_offset_to_rva_ex_fn>(SLOT_PE_OFFSET_TO_RVA_EX)(count(t, n), t.data(), v);
    }
    static int32_t count(const bytes &t, int32_t n) { return n >= 0 || n < -1 ? n : int32_t(t.size() / 40); }
    uint64_t overlay(scan_file *f, uint64_t *size) { return slot<pe_get_overlay_fn>(SLOT_PE_GET_OVERLAY)(f, size); }
};

TEST_F(PeMappingTest, FirstContainingHeaderWinsTheIndexLastWinsTheTranslation) {
    bytes t = table({{0x1000, 0x1000, 0x1000, 0x400}, {0x1000, 0x1800, 0x1000, 0x2000}});
    EXPECT_EQ(by_rva(t, 0x1900), 0);
    EXPECT_EQ(rva_to_offset(t, 0x1900), 0x2100u);
    EXPECT_EQ(rva_to_offset_ex(t, 0x1900), 0x2100u);
    bytes o = table({{0x100, 0x1000, 0x1000, 0x400}, {0x100, 0x5000, 0x1000, 0x800}});
    EXPECT_EQ(by_offset(o, 0x900), 0);
    EXPECT_EQ(offset_to_rva(o, 0x900), 0x5100u);
    EXPECT_EQ(offset_to_rva_ex(o, 0x900), 0x5100u);
}

TEST_F(PeMappingTest, EitherExtentContainsAnRva) {
    bytes t = table({{0, 0x1000, 0x200, 0x400}, {0x300, 0x2000, 0, 0x800}});
    EXPECT_EQ(by_rva(t, 0x1000), 0);
    EXPECT_EQ(by_rva(t, 0x11FF), 0);
    EXPECT_EQ(by_rva(t, 0x1200), -1);
    EXPECT_EQ(by_rva(t, 0x22FF), 1);
    EXPECT_EQ(rva_to_offset(t, 0x11FF), 0x5FFu);
    EXPECT_EQ(rva_to_offset(t, 0x2010), 0x810u);
    EXPECT_EQ(by_offset(t, 0x800), -1) << "no raw data: no offset is contained";
}

struct fallback_case {
    uint32_t value;
    uint32_t to_offset, to_offset_ex, to_rva, to_rva_ex;
};

class PeFallbackTest : public PeMappingTest, public ::testing::WithParamInterface<fallback_case> {};

TEST_P(PeFallbackTest, ValuesOutsideEverySection) {
    const fallback_case &c = GetParam();
    bytes t = table({{0x1000, 0x3000, 0x200, 0x400}, {0x1000, 0x1000, 0x200, 0x600}});
    EXPECT_EQ(rva_to_offset(t, c.value), c.to_offset);
    EXPECT_EQ(rva_to_offset_ex(t, c.value), c.to_offset_ex);
    EXPECT_EQ(offset_to_rva(t, c.value), c.to_rva);
    EXPECT_EQ(offset_to_rva_ex(t, c.value), c.to_rva_ex);
}

// The lowest VirtualAddress (0x1000, of the second header) bounds the
// identity mapping in both directions.
INSTANTIATE_TEST_SUITE_P(Values, PeFallbackTest,
                         ::testing::Values(fallback_case{0x40, 0x40, 0x40, 0x40, 0x40},
                                           fallback_case{0xFFF, 0xFFF, 0xFFF, 0xFFF, 0xFFF},
                                           fallback_case{0x5000, 0, 0xFFFFFFFF, 0, 0xFFFFFFFF},
                                           fallback_case{0x1000, 0x600, 0x600, 0, 0xFFFFFFFF},
                                           fallback_case{0x450, 0x450, 0x450, 0x3050, 0x3050},
                                           fallback_case{0x2800, 0, 0xFFFFFFFF, 0, 0xFFFFFFFF}),
                         [](const auto &info) { return "value_" + std::to_string(info.param.value); });

TEST_F(PeMappingTest, EmptyTables) {
    bytes t = table({{0x100, 0x1000, 0x100, 0x400}});
    for (int32_t n : {0, -1 - 1, INT32_MIN}) {
        EXPECT_EQ(by_rva(t, 0x1000, n), -1);
        EXPECT_EQ(by_offset(t, 0x400, n), -1);
        EXPECT_EQ(rva_to_offset(t, 0x1234, n), 0x1234u);
        EXPECT_EQ(rva_to_offset(t, 0xFFFFFFFF, n), 0u);
        EXPECT_EQ(rva_to_offset_ex(t, 0xFFFFFFFF, n), 0xFFFFFFFFu);
        EXPECT_EQ(offset_to_rva_ex(t, 0x1234, n), 0x1234u);
    }
}

TEST_F(PeMappingTest, SumsWrapAt32Bits) {
    bytes t = table({{0x20, 0xFFFFFFF0, 0x20, 0xFFFFFF00}});
    // VirtualAddress + size wraps to 0x10: nothing at the top is contained
    EXPECT_EQ(by_rva(t, 0xFFFFFFF8), -1);
    EXPECT_EQ(rva_to_offset_ex(t, 0xFFFFFFF8), 0xFFFFFFFFu);
    EXPECT_EQ(rva_to_offset_ex(t, 0x8), 0x8u) << "below the lowest VirtualAddress";
    // raw end wraps to 0xFFFFFF20 - 2^32: no offset is contained
    bytes w = table({{0x10, 0x1000, 0x200, 0xFFFFFF00}});
    EXPECT_EQ(by_offset(w, 0xFFFFFF10), -1);
}

struct overlay_case {
    const char *name;
    bool plus;
    std::vector<section_spec> sections;
    uint64_t file_size;
    uint64_t offset, size;
};

void PrintTo(const overlay_case &c, std::ostream *os) { *os << c.name; }
void PrintTo(const fallback_case &c, std::ostream *os) { *os << c.value; }

class PeOverlayTest : public PeMappingTest, public ::testing::WithParamInterface<overlay_case> {};

TEST_P(PeOverlayTest, Overlay) {
    const overlay_case &c = GetParam();
    pe_spec s;
    s.plus = c.plus;
    s.sections = c.sections;
    s.file_size = c.file_size;
    scan_file *f = create(build_pe(s));
    uint64_t size = 123;
    EXPECT_EQ(overlay(f, &size), c.offset);
    EXPECT_EQ(size, c.size);
    uint64_t reads = calls(KQHOST_CALL_READ) + calls(KQHOST_CALL_READ_AT), allocs = calls(KQHOST_CALL_ALLOC);
    size = 123;
    EXPECT_EQ(overlay(f, &size), c.offset);
    EXPECT_EQ(size, c.size);
    EXPECT_EQ(calls(KQHOST_CALL_READ) + calls(KQHOST_CALL_READ_AT), reads) << "computed once";
    EXPECT_EQ(calls(KQHOST_CALL_ALLOC), allocs);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PeOverlayTest,
    ::testing::Values(
        overlay_case{"behind_sections", false, {{0x100, 0x1000, 0x1000, 0x4000}, {0, 0x2000, 0x200, 0x400}},
                     0x6000, 0x5000, 0x1000},
        overlay_case{"pe32plus", true, {{0x100, 0x1000, 0x1000, 0x4000}}, 0x6000, 0x5000, 0x1000},
        overlay_case{"ends_at_file_end", false, {{0x100, 0x1000, 0x1000, 0x1000}}, 0x2000, 0x2000, 0},
        overlay_case{"past_file_end", false, {{0x100, 0x1000, 0x1000, 0x1000}}, 0x1FFF, 0, 0},
        overlay_case{"all_zero", false, {{0x100, 0x1000, 0, 0}, {0x100, 0x2000, 0, 0}}, 0x900, 0, 0x900},
        overlay_case{"wrapping_end", false, {{0x100, 0x1000, 0x200, 0xFFFFFF00}, {0, 0x2000, 0x100, 0x400}}, 0x900,
                     0x500, 0x400},
        overlay_case{"no_sections", false, {}, 0x900, 0, 0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(PeMappingTest, OverlayOfOtherFilesAndNullArguments) {
    uint64_t size = 9;
    EXPECT_EQ(overlay(nullptr, &size), 0u);
    EXPECT_EQ(size, 9u);
    scan_file *f = create(build_ne());
    EXPECT_EQ(overlay(f, nullptr), 0u);
    EXPECT_EQ(overlay(f, &size), 0u);
    EXPECT_EQ(size, 0u);
    scan_file *g = create(bytes(5000, 0x41));
    size = 9;
    EXPECT_EQ(overlay(g, &size), 0u);
    EXPECT_EQ(size, 0u);
}

}  // namespace
}  // namespace kqtest
