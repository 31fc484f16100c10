// Allocation and read failures at every point of a full walk over the PE
// slots and every window kind: null or sentinel results, nothing leaked.
#include "pe/pe_image.h"
#include "support/module_fixture.h"

namespace kqtest {
namespace {

class PeFaultsTest : public ModuleTest, public ::testing::WithParamInterface<int> {
protected:
    bytes image() const {
        switch (GetParam()) {
        case 0: {  // PE32, entry section off the file alignment, 256 KiB
            pe_spec s;
            s.sections = {{0x10000, 0x1000, 0x10000, 0x20010}, {0x100, 0x20000, 0x200, 0x400}};
            s.entry = 0x1100;
            s.file_size = 256 * 1024;
            return build_pe(s);
        }
        case 1: {  // PE32+
            pe_spec s = two_sections(true);
            s.file_size = 64 * 1024;
            return build_pe(s);
        }
        case 2: {  // headers and table beyond the head
            pe_spec s = two_sections();
            s.lfanew = 20400;
            s.sections = {{0x1000, 0x1000, 0x1000, 0x6000}};
            return build_pe(s);
        }
        default: return build_ne(30000, 40000);
        }
    }

    // Every PE slot, then every window kind at a few offsets; returns a
    // digest of what was answered so that runs can be compared.
    std::string walk(scan_file *f) {
        std::string out;
        auto mark = [&](const void *p) { out += p ? '1' : '0'; };
        mark(slot<pe_get_dos_header_fn>(SLOT_PE_GET_DOS_HEADER)(f));
        mark(slot<pe_get_nt_headers32_fn>(SLOT_PE_GET_NT_HEADERS32)(f));
        uint32_t n = 0;
        const uint8_t *t = slot<pe_get_sections32_fn>(SLOT_PE_GET_SECTIONS32)(f, &n);
        mark(t);
        mark(slot<pe_get_nt_headers64_fn>(SLOT_PE_GET_NT_HEADERS64)(f));
        mark(slot<pe_get_sections64_fn>(SLOT_PE_GET_SECTIONS64)(f, &n));
        mark(slot<pe_get_ne_header_fn>(SLOT_PE_GET_NE_HEADER)(f));
        uint64_t overlay_size = 0;
        out += std::to_string(slot<pe_get_overlay_fn>(SLOT_PE_GET_OVERLAY)(f, &overlay_size)) + "/" +
               std::to_string(overlay_size) + " ";
        auto get_window = slot<file_get_window_fn>(SLOT_FILE_GET_WINDOW);
        int64_t size = int64_t(f->size);
        for (int32_t kind : {3, 4, 6, 7, 8, 9})
            for (int64_t offset : {int64_t(-1), int64_t(0), int64_t(100), size / 2, size - 5, size}) {
                uint64_t got = 0, position = 0;
                const uint8_t *w = get_window(f, kind, offset, &got, &position);
                if (w) {
                    EXPECT_GT(got, 0u);
                    out += std::to_string(got) + "@" + std::to_string(position) + " ";
                } else {
                    EXPECT_EQ(got, 0u);
                    out += "- ";
                }
            }
        return out;
    }

    uint64_t allocations() const { return calls(KQHOST_CALL_ALLOC) + calls(KQHOST_CALL_ALLOC_ZEROED); }
};

TEST_P(PeFaultsTest, EveryAllocationFailureIsSurvived) {
    bytes data = image();
    scan_file *clean = create(data);
    uint64_t before = allocations();
    std::string expected = walk(clean);
    uint64_t needed = allocations() - before;
    destroy(clean);
    ASSERT_EQ(live_blocks(), 0u);
    ASSERT_GT(needed, 3u);

    for (uint64_t nth = 1; nth <= needed + 1; nth++) {
        scan_file *f = create(data);
        ASSERT_NE(f, nullptr);
        kqhost_fail_alloc_at(host_, nth);
        std::string got = walk(f);
        kqhost_fail_alloc_at(host_, 0);
        if (nth > needed) {
            EXPECT_EQ(got, expected) << "no failure: the same answers";
        }
        destroy(f);
        EXPECT_EQ(live_blocks(), 0u) << "allocation " << nth << " of " << needed;
    }
}

TEST_P(PeFaultsTest, ReadFailuresAndShortReads) {
    bytes data = image();
    scan_file *f = create(data);
    kqhost_fail_reads(host_, 1);
    std::string failed = walk(f);
    EXPECT_EQ(failed.substr(0, 6), "000000") << "no head, no record";
    kqhost_fail_reads(host_, 0);
    destroy(f);
    EXPECT_EQ(live_blocks(), 0u);

    for (uint64_t max : {1u, 100u, 4096u}) {
        scan_file *g = create(data);
        kqhost_short_reads(host_, max);
        walk(g);
        kqhost_short_reads(host_, 0);
        destroy(g);
        EXPECT_EQ(live_blocks(), 0u) << max;
    }
    scan_file *h = create(data);
    kqhost_fail_seeks(host_, 1);
    walk(h);
    kqhost_fail_seeks(host_, 0);
    destroy(h);
    EXPECT_EQ(live_blocks(), 0u);
}

std::string image_name(const ::testing::TestParamInfo<int> &info) {
    const char *names[] = {"pe32", "pe32plus", "headers_beyond_head", "ne"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Images, PeFaultsTest, ::testing::Values(0, 1, 2, 3), image_name);

}  // namespace
}  // namespace kqtest
