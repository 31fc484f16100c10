// Slot 5: windows at and around offsets and entry points, the redirections
// between kinds, the head and tail answers and the reloads.
#include "pe/pe_image.h"
#include "support/module_fixture.h"

namespace kqtest {
namespace {

constexpr uint64_t MiB = 1u << 20;

// A 1 MiB PE32 image whose entry section's raw pointer is off the file
// alignment, so the raw (0x80110) and aligned (0x80100) entry offsets differ.
pe_spec unaligned_entry_image(bool plus = false, uint32_t raw_pointer = 0x80010) {
    pe_spec s;
    s.plus = plus;
    s.sections = {{0x10000, 0x1000, 0x10000, raw_pointer}};
    s.entry = 0x1100;
    s.file_size = MiB;
    return s;
}

class WindowTest : public ModuleTest {
protected:
    struct window {
        const uint8_t *data;
        uint64_t size, position;
    };
    window get(scan_file *f, int32_t kind, int64_t offset) {
        window w{};
        w.size = w.position = 777;
        w.data = slot<file_get_window_fn>(SLOT_FILE_GET_WINDOW)(f, kind, offset, &w.size, &w.position);
        return w;
    }
    const uint8_t *region(scan_file *f, int32_t kind, uint64_t *size) {
        return slot<file_get_region_fn>(SLOT_FILE_GET_REGION)(f, kind, size);
    }
    // The window's bytes are the file's bytes from start (where no header lies).
    static void expect_from(const window &w, uint64_t start) {
        ASSERT_NE(w.data, nullptr);
        for (uint64_t i : {uint64_t(0), w.size / 2, w.size - 1}) EXPECT_EQ(w.data[i], fill_byte(start + i)) << i;
    }
};

TEST_F(WindowTest, EntryKindsAndRedirections) {
    scan_file *f = create(build_pe(unaligned_entry_image()));
    window raw = get(f, REGION_AT_ENTRY_RAW, 0);
    window aligned = get(f, REGION_AT_ENTRY, 0);
    expect_from(raw, 0x80110);
    expect_from(aligned, 0x80100);
    EXPECT_EQ(raw.size, REGION_SIZE);
    EXPECT_EQ(raw.position, 0u);
    EXPECT_NE(raw.data, aligned.data);

    uint64_t reads = calls(KQHOST_CALL_READ);
    EXPECT_EQ(get(f, REGION_AT_OFFSET, 0x80100).data, aligned.data);
    EXPECT_EQ(get(f, REGION_AT_OFFSET, -1).data, aligned.data);
    EXPECT_EQ(get(f, REGION_AT_OFFSET, 0x80110).data, raw.data);
    EXPECT_EQ(calls(KQHOST_CALL_READ), reads) << "served from the entry kinds without reading";

    window around = get(f, REGION_AROUND_ENTRY, 0);
    expect_from(around, 0x80100 - 10240);
    EXPECT_EQ(around.position, 10240u);
    EXPECT_EQ(get(f, REGION_AROUND_OFFSET, 0x80100).data, around.data);
    EXPECT_EQ(get(f, REGION_AROUND_OFFSET, -1).data, around.data);
    window around_raw = get(f, REGION_AROUND_ENTRY_RAW, 12345);
    expect_from(around_raw, 0x80110 - 10240);
    EXPECT_EQ(get(f, REGION_AROUND_OFFSET, 0x80110).data, around_raw.data);
}

TEST_F(WindowTest, EqualEntryOffsetsShareOneBuffer) {
    scan_file *f = create(build_pe(unaligned_entry_image(false, 0x80000)));
    window raw = get(f, REGION_AT_ENTRY_RAW, 0);
    EXPECT_EQ(raw.data, get(f, REGION_AT_ENTRY, 0).data);
    expect_from(raw, 0x80100);
    EXPECT_EQ(get(f, REGION_AROUND_ENTRY_RAW, 0).data, get(f, REGION_AROUND_ENTRY, 0).data);
}

TEST_F(WindowTest, NoEntryPointWithoutPe32Headers) {
    for (bool plus : {true, false}) {
        bytes image = plus ? build_pe(unaligned_entry_image(true)) : bytes(MiB, 0);
        if (!plus)
            for (uint64_t i = 0; i < image.size(); i++) image[i] = fill_byte(i);
        scan_file *f = create(image);
        for (int32_t kind : {REGION_AT_ENTRY_RAW, REGION_AT_ENTRY, REGION_AROUND_ENTRY_RAW, REGION_AROUND_ENTRY}) {
            window w = get(f, kind, 100);
            EXPECT_EQ(w.data, nullptr) << kind;
            EXPECT_EQ(w.size, 0u);
        }
        EXPECT_EQ(get(f, REGION_AT_OFFSET, 0).data, nullptr);
        EXPECT_EQ(get(f, REGION_AT_OFFSET, -1).data, nullptr);
        window at100 = get(f, REGION_AT_OFFSET, 100);
        if (!plus) expect_from(at100, 100);
        EXPECT_EQ(at100.size, REGION_SIZE);
        EXPECT_EQ(at100.position, 0u);
    }
}

TEST_F(WindowTest, AroundOffsetUsesHeadTailOrItsOwnBuffer) {
    scan_file *f = create(build_pe(unaligned_entry_image()));
    uint64_t head_size = 0, tail_size = 0;
    window near_start = get(f, REGION_AROUND_OFFSET, 5000);
    EXPECT_EQ(near_start.data, region(f, REGION_HEAD, &head_size));
    EXPECT_EQ(near_start.size, head_size);
    EXPECT_EQ(near_start.position, 5000u);

    window near_end = get(f, REGION_AROUND_OFFSET, 1048000);
    EXPECT_EQ(near_end.data, region(f, REGION_TAIL, &tail_size));
    EXPECT_EQ(near_end.position, 19904u);
    EXPECT_EQ(near_end.data[near_end.position], fill_byte(1048000));

    window middle = get(f, REGION_AROUND_OFFSET, 500000);
    expect_from(middle, 489760);
    EXPECT_EQ(middle.position, 10240u);
    EXPECT_EQ(middle.data[middle.position], fill_byte(500000));
    uint64_t reads = calls(KQHOST_CALL_READ);
    window again = get(f, REGION_AROUND_OFFSET, 500000);
    EXPECT_EQ(again.data, middle.data);
    EXPECT_EQ(again.position, 10240u);
    EXPECT_EQ(calls(KQHOST_CALL_READ), reads);

    window at_end = get(f, REGION_AROUND_OFFSET, int64_t(MiB));
    EXPECT_EQ(at_end.data, near_end.data);
    EXPECT_EQ(at_end.position, 20480u);
}

TEST_F(WindowTest, OffsetAtAndBeyondTheEndOfTheFile) {
    scan_file *f = create(build_pe(unaligned_entry_image()));
    window w = get(f, REGION_AT_OFFSET, int64_t(MiB));
    EXPECT_EQ(w.data, nullptr);
    EXPECT_EQ(w.size, 0u);

    scan_file *g = create(build_pe(unaligned_entry_image()));
    uint64_t allocs = calls(KQHOST_CALL_ALLOC) + calls(KQHOST_CALL_ALLOC_ZEROED);
    for (int32_t kind : {3, 4, 6, 7, 8, 9}) EXPECT_EQ(get(g, kind, int64_t(MiB) + 1).data, nullptr);
    EXPECT_EQ(calls(KQHOST_CALL_ALLOC) + calls(KQHOST_CALL_ALLOC_ZEROED), allocs) << "no cache is created";
    uint64_t size = 1;
    EXPECT_EQ(region(g, REGION_HEAD_IF_LOADED, &size), nullptr);
}

TEST_F(WindowTest, FileOfExactlyOneRegion) {
    bytes image(REGION_SIZE);
    for (uint64_t i = 0; i < image.size(); i++) image[i] = fill_byte(i);
    scan_file *f = create(image);
    window head = get(f, REGION_AROUND_OFFSET, 10239);
    EXPECT_EQ(head.position, 10239u);
    EXPECT_EQ(head.size, REGION_SIZE);
    window from0 = get(f, REGION_AROUND_OFFSET, 10240);
    EXPECT_NE(from0.data, head.data) << "its own buffer, not the head";
    expect_from(from0, 0);
    EXPECT_EQ(from0.position, 10240u);
    window last = get(f, REGION_AROUND_OFFSET, 20480);
    EXPECT_EQ(last.data, from0.data) << "reloaded into the same buffer";
    EXPECT_EQ(last.size, 10240u);
    EXPECT_EQ(last.position, 10240u);
    EXPECT_EQ(last.data[0], fill_byte(10240));
}

TEST_F(WindowTest, SmallFilesAreServedByTheHead) {
    bytes image(3000);
    for (uint64_t i = 0; i < image.size(); i++) image[i] = fill_byte(i);
    scan_file *f = create(image);
    window w = get(f, REGION_AROUND_OFFSET, 2999);
    EXPECT_EQ(w.size, 3000u);
    EXPECT_EQ(w.position, 2999u);
    window neg = get(f, REGION_AROUND_OFFSET, -7);
    EXPECT_EQ(neg.data, w.data) << "an offset below 0 counts as one near the start";
    window at = get(f, REGION_AT_OFFSET, 1000);
    EXPECT_EQ(at.size, 2000u);
    expect_from(at, 1000);
}

TEST_F(WindowTest, ReloadAtAnotherOffsetReusesTheBuffer) {
    scan_file *f = create(build_pe(unaligned_entry_image()));
    window a = get(f, REGION_AT_OFFSET, 200000);
    uint64_t allocs = calls(KQHOST_CALL_ALLOC_ZEROED);
    window b = get(f, REGION_AT_OFFSET, 300000);
    EXPECT_EQ(a.data, b.data);
    EXPECT_EQ(calls(KQHOST_CALL_ALLOC_ZEROED), allocs);
    expect_from(b, 300000);
    window tail = get(f, REGION_AT_OFFSET, int64_t(MiB) - 10);
    EXPECT_EQ(tail.size, 10u);
    EXPECT_EQ(tail.data[0], fill_byte(MiB - 10));
}

TEST_F(WindowTest, FailedLoadReleasesTheBufferAndLoadsAgainLater) {
    scan_file *f = create(build_pe(unaligned_entry_image()));
    ASSERT_NE(get(f, REGION_AT_OFFSET, 200000).data, nullptr);
    uint64_t live = live_blocks();
    kqhost_fail_reads(host_, 1);
    window w = get(f, REGION_AT_OFFSET, 300000);
    EXPECT_EQ(w.data, nullptr);
    EXPECT_EQ(w.size, 0u);
    EXPECT_EQ(live_blocks(), live - 1) << "the failed entry's buffer is released";
    kqhost_fail_reads(host_, 0);
    expect_from(get(f, REGION_AT_OFFSET, 300000), 300000);
    expect_from(get(f, REGION_AT_OFFSET, 200000), 200000);
}

TEST_F(WindowTest, BadKindsAndArguments) {
    scan_file *f = create(build_pe(unaligned_entry_image()));
    for (int32_t kind : {0, 1, 2, 5, 10, 11, 12, -1}) {
        window w = get(f, kind, 50000);
        EXPECT_EQ(w.data, nullptr) << kind;
        EXPECT_EQ(w.size, 0u);
    }
    uint64_t size = 5, position = 5;
    auto get_window = slot<file_get_window_fn>(SLOT_FILE_GET_WINDOW);
    EXPECT_EQ(get_window(nullptr, 3, 0, &size, &position), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(position, 0u);
    size = 5;
    EXPECT_EQ(get_window(f, 3, 100, &size, nullptr), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(get_window(f, 3, 100, nullptr, &position), nullptr);
}

}  // namespace
}  // namespace kqtest

namespace kqtest {
namespace {

// Where kind 7 reads for a section at VirtualAddress 0x1000 whose raw data
// pointer and FileAlignment vary: pointers on a 512-byte boundary, a zero
// alignment and pointers already aligned are left alone.
struct aligned_case {
    uint32_t raw_pointer, file_alignment, virtual_size, raw_size, entry;
    int64_t raw, aligned;
};

void PrintTo(const aligned_case &c, std::ostream *os) { *os << std::hex << c.raw_pointer << "/" << c.file_alignment; }

class AlignedEntryTest : public WindowTest, public ::testing::WithParamInterface<aligned_case> {};

TEST_P(AlignedEntryTest, EntryOffsets) {
    const aligned_case &c = GetParam();
    pe_spec s;
    s.sections = {{c.virtual_size, 0x1000, c.raw_size, c.raw_pointer}};
    s.entry = c.entry;
    s.file_alignment = c.file_alignment;
    s.file_size = MiB;
    scan_file *f = create(build_pe(s));
    window raw = get(f, REGION_AT_ENTRY_RAW, 0);
    window aligned = get(f, REGION_AT_ENTRY, 0);
    if (c.raw < 0) {
        EXPECT_EQ(raw.data, nullptr);
    } else {
        expect_from(raw, uint64_t(c.raw));
    }
    expect_from(aligned, uint64_t(c.aligned));
}

INSTANTIATE_TEST_SUITE_P(Cases, AlignedEntryTest,
                         ::testing::Values(aligned_case{0x80010, 0x200, 0x10000, 0x10000, 0x1100, 0x80110, 0x80100},
                                           aligned_case{0x80400, 0x1000, 0x10000, 0x10000, 0x1100, 0x80500, 0x80500},
                                           aligned_case{0x80010, 0, 0x10000, 0x10000, 0x1100, 0x80110, 0x80110},
                                           aligned_case{0x80010, 0x10, 0x10000, 0x10000, 0x1100, 0x80110, 0x80110},
                                           // the raw size grows to whole units: only the aligned table holds it
                                           aligned_case{0x80010, 0x200, 0, 0x150, 0x11A0, -1, 0x801A0}));

}  // namespace
}  // namespace kqtest
