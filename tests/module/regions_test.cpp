// Slot 4: the head and tail regions, read once per scan_file.
#include <string.h>

#include "support/module_fixture.h"

namespace kqtest {
namespace {

bytes numbered(size_t n) {
    bytes b(n);
    for (size_t i = 0; i < n; i++) b[i] = static_cast<uint8_t>(i % 251);
    return b;
}

class RegionTest : public ModuleTest {
protected:
    const uint8_t *region(scan_file *f, int32_t kind, uint64_t *size) {
        return slot<file_get_region_fn>(SLOT_FILE_GET_REGION)(f, kind, size);
    }
};

TEST_F(RegionTest, ShortFileGivesTheWholeFileAsHeadAndTail) {
    bytes data = numbered(100);
    scan_file *f = create(data);
    uint64_t size = 0;
    const uint8_t *head = region(f, REGION_HEAD, &size);
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(size, 100u);
    EXPECT_EQ(memcmp(head, data.data(), 100), 0);
    const uint8_t *tail = region(f, REGION_TAIL, &size);
    ASSERT_NE(tail, nullptr);
    EXPECT_NE(tail, head);
    EXPECT_EQ(size, 100u);
    EXPECT_EQ(memcmp(tail, data.data(), 100), 0);
}

TEST_F(RegionTest, TailIsTheLast20480Bytes) {
    for (size_t n : {size_t{20480}, size_t{20481}, size_t{50000}}) {
        bytes data = numbered(n);
        scan_file *f = create(data);
        uint64_t size = 0;
        const uint8_t *tail = region(f, REGION_TAIL, &size);
        ASSERT_NE(tail, nullptr);
        EXPECT_EQ(size, 20480u);
        EXPECT_EQ(memcmp(tail, data.data() + n - 20480, 20480), 0) << n << "-byte file";
        // The four bytes behind what a load can fill stay zero.
        EXPECT_EQ(tail[20480] | tail[20481] | tail[20482] | tail[20483], 0);
    }
}

TEST_F(RegionTest, HeadIsReadOnceAndServedFromTheCache) {
    scan_file *f = create(numbered(30000));
    uint64_t size = 0;
    const uint8_t *first = region(f, REGION_HEAD, &size);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(size, 20480u);
    EXPECT_EQ(calls(KQHOST_CALL_READ), 1u);
    EXPECT_EQ(calls(KQHOST_CALL_SEEK), 1u);
    EXPECT_EQ(region(f, REGION_HEAD, &size), first);
    EXPECT_EQ(region(f, REGION_HEAD_IF_LOADED, &size), first);
    EXPECT_EQ(size, 20480u);
    EXPECT_EQ(calls(KQHOST_CALL_READ), 1u);
}

TEST_F(RegionTest, IfLoadedKindsCreateNothing) {
    scan_file *f = create(numbered(300));
    uint64_t size = 7;
    kqhost_reset_counters(host_);
    EXPECT_EQ(region(f, REGION_HEAD_IF_LOADED, &size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(region(f, REGION_TAIL_IF_LOADED, &size), nullptr);
    EXPECT_EQ(calls(KQHOST_CALL_ALLOC) + calls(KQHOST_CALL_ALLOC_ZEROED) + calls(KQHOST_CALL_READ), 0u);
    EXPECT_EQ(f->attached, nullptr);
    // With the cache present but the tail never read, kind 11 still answers null.
    ASSERT_NE(region(f, REGION_HEAD, &size), nullptr);
    EXPECT_EQ(region(f, REGION_TAIL_IF_LOADED, &size), nullptr);
    EXPECT_EQ(size, 0u);
}

TEST_F(RegionTest, OtherKindsAndNullArgumentsGiveNull) {
    scan_file *f = create(numbered(300));
    uint64_t size = 7;
    for (int32_t kind : {0, 3, 4, 5, 6, 7, 8, 9, 12, -1}) {
        EXPECT_EQ(region(f, kind, &size), nullptr) << kind;
        EXPECT_EQ(size, 0u);
    }
    EXPECT_EQ(f->attached, nullptr);
    EXPECT_EQ(region(nullptr, REGION_HEAD, &size), nullptr);
    EXPECT_NE(region(f, REGION_HEAD, nullptr), nullptr) << "the size out-parameter is optional";
}

TEST_F(RegionTest, FailedLoadsAreNotRetried) {
    scan_file *empty = create(bytes{});
    uint64_t size = 7;
    EXPECT_EQ(region(empty, REGION_HEAD, &size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(region(empty, REGION_TAIL, &size), nullptr);
    uint64_t reads = calls(KQHOST_CALL_READ);
    EXPECT_EQ(region(empty, REGION_HEAD, &size), nullptr);
    EXPECT_EQ(region(empty, REGION_TAIL, &size), nullptr);
    EXPECT_EQ(calls(KQHOST_CALL_READ), reads);
    EXPECT_EQ(live_blocks(), 1u + 1u + 1u) << "object, cache and its list node; no buffers";

    scan_file *f = create(numbered(300));
    kqhost_fail_reads(host_, 1);
    EXPECT_EQ(region(f, REGION_HEAD, &size), nullptr);
    kqhost_fail_reads(host_, 0);
    EXPECT_EQ(region(f, REGION_HEAD, &size), nullptr) << "a failed head stays failed";
    EXPECT_NE(region(f, REGION_TAIL, &size), nullptr);
}

TEST_F(RegionTest, ShortReadKeepsWhatWasDelivered) {
    scan_file *f = create(numbered(30000));
    kqhost_short_reads(host_, 1000);
    uint64_t size = 0;
    ASSERT_NE(region(f, REGION_HEAD, &size), nullptr);
    EXPECT_EQ(size, 1000u);
}

TEST_F(RegionTest, EveryAllocationFailureLeavesNothingBehind) {
    bytes data = numbered(25000);
    for (uint64_t n = 1;; n++) {
        scan_file *f = create(data);
        ASSERT_NE(f, nullptr);
        kqhost_fail_alloc_at(host_, n);
        uint64_t size = 7;
        const uint8_t *head = region(f, REGION_HEAD, &size);
        const uint8_t *tail = region(f, REGION_TAIL, &size);
        kqhost_fail_alloc_at(host_, 0);
        destroy(f);
        EXPECT_EQ(live_blocks(), 0u) << "failing allocation " << n;
        if (head && tail) break;
        ASSERT_LT(n, 10u);
    }
}

}  // namespace
}  // namespace kqtest
