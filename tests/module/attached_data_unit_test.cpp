// Attached data and the PE reader's load-once cache, tested on the module's
// own objects with a reference host serving them.
#include "module/attached_data.h"
#include "module/host_calls.h"
#include "module/slots.h"
#include "pe/pe_reader.h"
#include "pe/region_cache.h"
#include "support/module_fixture.h"

namespace kqtest {
namespace {

class AttachedDataTest : public ::testing::Test {
protected:
    void SetUp() override {
        host_ = kqhost_create();
        kqhost_use_linked_module(host_, module_get_info(), module_get_api());
        uint32_t handle = kqhost_open_memory(host_, "abc", 3);
        file_ = scan_file_create(kqhost_context(host_), kqhost_instance(host_), &handle);
        ASSERT_NE(file_, nullptr);
    }
    void TearDown() override {
        scan_file_destroy(kqhost_context(host_), kqhost_instance(host_), file_);
        EXPECT_EQ(kqhost_report_leaks(host_, stderr), 0u);
        EXPECT_EQ(kqhost_misuse_count(host_), 0u);
        kqhost_destroy(host_);
    }
    void *block(size_t n) { return kq::host_of(file_).alloc_zeroed(n); }
    std::vector<uint32_t> types() const {
        std::vector<uint32_t> t;
        for (attached_data *n = file_->attached; n; n = n->next) t.push_back(n->type);
        return t;
    }

    kqhost *host_ = nullptr;
    scan_file *file_ = nullptr;
};

TEST_F(AttachedDataTest, AddFindAndDuplicates) {
    void *pe = block(sizeof(kq::pe_reader));
    void *cache = block(sizeof(kq::region_cache));
    EXPECT_EQ(kq::attached_data_add(file_, ATTACHED_PE_READER, pe), 0);
    EXPECT_EQ(kq::attached_data_add(file_, ATTACHED_REGION_CACHE, cache), 0);
    EXPECT_EQ(types(), (std::vector<uint32_t>{3, 1})) << "new nodes go to the head";

    void *other = block(sizeof(kq::pe_reader));
    EXPECT_EQ(kq::attached_data_add(file_, ATTACHED_PE_READER, other), 4);
    kq::host_of(file_).free(other);  // the caller kept ownership

    void *out = &out;
    EXPECT_EQ(kq::attached_data_find(file_, ATTACHED_PE_READER, &out), 0);
    EXPECT_EQ(out, pe);
    EXPECT_EQ(kq::attached_data_find(file_, ATTACHED_ELF, &out), 1);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(kq::attached_data_add(file_, 9, nullptr), 0);
    out = &out;
    EXPECT_EQ(kq::attached_data_find(file_, 9, &out), 2);
    EXPECT_EQ(out, nullptr);
    out = &out;
    EXPECT_EQ(kq::attached_data_find(nullptr, 1, &out), 3);
    EXPECT_EQ(out, &out) << "out is untouched for a bad argument";
    EXPECT_EQ(kq::attached_data_find(file_, 1, nullptr), 3);
    EXPECT_EQ(kq::attached_data_add(nullptr, 1, pe), 3);
}

TEST_F(AttachedDataTest, RemoveFromTheMiddleKeepsTheOthers) {
    ASSERT_EQ(kq::attached_data_add(file_, ATTACHED_REGION_CACHE, block(sizeof(kq::region_cache))), 0);
    ASSERT_EQ(kq::attached_data_add(file_, ATTACHED_PE_READER, block(sizeof(kq::pe_reader))), 0);
    ASSERT_EQ(kq::attached_data_add(file_, 7, nullptr), 0);
    EXPECT_EQ(kq::attached_data_remove(file_, ATTACHED_PE_READER), 0);
    EXPECT_EQ(types(), (std::vector<uint32_t>{7, 3}));
    EXPECT_EQ(kq::attached_data_remove(file_, ATTACHED_PE_READER), 0) << "absent type";
    EXPECT_EQ(kq::attached_data_remove(nullptr, 1), 0);
    EXPECT_EQ(kq::attached_data_remove(file_, 7), 0);
    EXPECT_EQ(types(), (std::vector<uint32_t>{3}));
    EXPECT_EQ(kqhost_live_blocks(host_), 3u);  // object, cache and its node
}

TEST_F(AttachedDataTest, AddFailsWhenTheNodeCannotBeAllocated) {
    kqhost_fail_alloc_at(host_, 1);
    EXPECT_EQ(kq::attached_data_add(file_, 5, nullptr), 3);
    EXPECT_EQ(file_->attached, nullptr);
}

TEST_F(AttachedDataTest, ReleaseDispatchesByType) {
    EXPECT_EQ(kq::attached_data_release(file_, 1, nullptr), 0);
    EXPECT_EQ(kq::attached_data_release(nullptr, 1, file_), 0);
    int foreign = 0;
    EXPECT_EQ(kq::attached_data_release(file_, 8, &foreign), -1) << "unknown types release nothing";
    EXPECT_EQ(kq::attached_data_release(file_, ATTACHED_REGION_CACHE, block(sizeof(kq::region_cache))), 0);
    EXPECT_EQ(kq::attached_data_release(file_, ATTACHED_PE_READER, block(sizeof(kq::pe_reader))), 0);
    EXPECT_EQ(kqhost_live_blocks(host_), 1u);
    EXPECT_EQ(kq::attached_data_clear(nullptr), 3);
}

uint8_t *failing_loader(scan_file *) { return nullptr; }
uint8_t *table_loader(scan_file *f, uint32_t *count) {
    *count = 3;
    return static_cast<uint8_t *>(kq::host_of(f).alloc(120));
}

TEST_F(AttachedDataTest, PeCacheRunsEachLoaderOnce) {
    kq::pe_reader *reader = kq::pe_reader_get(file_);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(kq::pe_reader_get(file_), reader);

    EXPECT_EQ(kq::pe_cache_get(file_, &reader->dos_header, failing_loader), nullptr);
    EXPECT_EQ(reader->dos_header.state, 2);
    uint64_t allocs = kqhost_calls(host_, KQHOST_CALL_ALLOC);
    EXPECT_EQ(kq::pe_cache_get(file_, &reader->dos_header, failing_loader), nullptr);

    uint32_t count = 0;
    uint8_t *table = kq::pe_cache_get(file_, &reader->sections32, table_loader, &count);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(reader->sections32.count, 3u);
    count = 0;
    EXPECT_EQ(kq::pe_cache_get(file_, &reader->sections32, table_loader, &count), table);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(kqhost_calls(host_, KQHOST_CALL_ALLOC), allocs + 1) << "the table loader ran once";
    EXPECT_EQ(kq::pe_cache_get(nullptr, &reader->sections32, table_loader, &count), nullptr);
}

TEST_F(AttachedDataTest, PeReaderAllocationFailure) {
    kqhost_fail_alloc_at(host_, 1);
    EXPECT_EQ(kq::pe_reader_get(file_), nullptr);
    kqhost_fail_alloc_at(host_, 2);  // the reader, then its list node
    EXPECT_EQ(kq::pe_reader_get(file_), nullptr);
    EXPECT_EQ(kqhost_live_blocks(host_), 1u) << "an orphaned reader is released at once";
}

}  // namespace
}  // namespace kqtest
