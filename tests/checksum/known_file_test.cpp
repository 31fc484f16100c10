// The known-file match: its host calls, what it remembers and what it retries.
#include <zlib.h>

#include <random>

#include "support/module_fixture.h"

namespace kqtest {
namespace {

struct entry {
    uint32_t size, offset, length, crc32;
};

class KnownFile : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        std::mt19937 rng(42);
        data_.resize(200000);
        for (auto &b : data_) b = static_cast<uint8_t>(rng());
    }
    uint32_t crc_of(uint32_t offset, uint32_t length) const {
        return static_cast<uint32_t>(::crc32(0, data_.data() + offset, length));
    }
    entry fitting(uint32_t offset, uint32_t length) const {
        return {static_cast<uint32_t>(data_.size()), offset, length, crc_of(offset, length)};
    }
    void set_list(const std::vector<entry> &entries) {
        std::vector<uint32_t> words{static_cast<uint32_t>(entries.size())};
        for (const entry &e : entries) words.insert(words.end(), {e.size, e.offset, e.length, e.crc32});
        kqhost_set_size_list(host_, words.data(), words.size());
    }
    // A scan_file of the test data, with the counters starting after its creation.
    scan_file *file() {
        scan_file *f = create(data_);
        kqhost_reset_counters(host_);
        return f;
    }
    int32_t match(scan_file *f) { return slot<known_file_match_fn>(SLOT_KNOWN_FILE_MATCH)(f); }
    void expect_calls(uint64_t list, uint64_t setting, uint64_t alloc, uint64_t seek, uint64_t read) {
        EXPECT_EQ(calls(KQHOST_CALL_GET_SIZE_LIST), list);
        EXPECT_EQ(calls(KQHOST_CALL_GET_SETTING), setting);
        EXPECT_EQ(calls(KQHOST_CALL_ALLOC), alloc);
        EXPECT_EQ(calls(KQHOST_CALL_FREE), alloc);
        EXPECT_EQ(calls(KQHOST_CALL_SEEK), seek);
        EXPECT_EQ(calls(KQHOST_CALL_READ), read);
        kqhost_reset_counters(host_);
    }
    bytes data_;
};

TEST_F(KnownFile, MatchIsRememberedAndNotReadAgain) {
    set_list({{1, 0, 10, 0}, fitting(100, 150000)});  // 150000 bytes: three reads of at most 65536
    scan_file *f = file();
    EXPECT_EQ(match(f), 1);
    expect_calls(1, 1, 1, 1, 3);
    EXPECT_EQ(f->known_file_state, 2);
    EXPECT_EQ(match(f), 1);
    expect_calls(1, 0, 0, 0, 0);  // the list is still asked for
}

TEST_F(KnownFile, NoMatchIsRememberedAndNotReadAgain) {
    entry wrong = fitting(0, 64);
    wrong.crc32 ^= 1;
    entry other_size = fitting(0, 64);
    other_size.size += 1;
    set_list({wrong, other_size});
    scan_file *f = file();
    EXPECT_EQ(match(f), 0);
    expect_calls(1, 1, 1, 1, 1);
    EXPECT_EQ(f->known_file_state, 1);
    EXPECT_EQ(match(f), 0);
    expect_calls(1, 0, 0, 0, 0);
}

TEST_F(KnownFile, SameOffsetReusesTheComputedCrcWhateverTheLength) {
    entry first = fitting(8, 10);
    first.crc32 ^= 1;
    entry second = fitting(8, 20);
    second.crc32 = crc_of(8, 10);  // judged by the CRC of the first entry's region
    set_list({first, second});
    EXPECT_EQ(match(file()), 1);
    expect_calls(1, 1, 1, 1, 1);

    entry third = fitting(8, 20);  // right for its own region, but the first CRC decides
    set_list({first, third, fitting(9, 5)});
    EXPECT_EQ(match(file()), 1);
    expect_calls(1, 1, 1, 2, 2);  // offset 9 is computed afresh
}

TEST_F(KnownFile, EmptyRegionHasCrcZeroAndReadsNothing) {
    set_list({{static_cast<uint32_t>(data_.size()), 5, 0, 0}});
    EXPECT_EQ(match(file()), 1);
    expect_calls(1, 1, 1, 1, 0);
}

TEST_F(KnownFile, EmptyListDecidesNoMatch) {
    set_list({});
    scan_file *f = file();
    EXPECT_EQ(match(f), 0);
    EXPECT_EQ(f->known_file_state, 1);
    expect_calls(1, 1, 1, 0, 0);
}

TEST_F(KnownFile, EntryCountLimit) {
    std::vector<entry> entries(1000000, entry{7, 0, 1, 0});
    entries.back() = fitting(0, 4);
    set_list(entries);
    EXPECT_EQ(match(file()), 1);

    const uint32_t too_many[] = {1000001};
    kqhost_set_size_list(host_, too_many, 1);
    scan_file *f = file();
    EXPECT_EQ(match(f), 0);
    EXPECT_EQ(f->known_file_state, 0);
    expect_calls(1, 1, 0, 0, 0);
}

TEST_F(KnownFile, SwitchedOffBySetting) {
    set_list({fitting(0, 4)});
    for (uint32_t bit : {0x08u, 0x20u}) {
        kqhost_set_setting(host_, HOST_SETTING_KNOWN_FILES, bit | 0x01);
        scan_file *f = file();
        EXPECT_EQ(match(f), 0);
        EXPECT_EQ(f->known_file_state, 1);
        kqhost_set_setting(host_, HOST_SETTING_KNOWN_FILES, 0);
        EXPECT_EQ(match(f), 0) << "stays off for the file";
        expect_calls(2, 1, 0, 0, 0);
    }
    kqhost_set_setting(host_, HOST_SETTING_KNOWN_FILES, ~(0x08u | 0x20u));
    EXPECT_EQ(match(file()), 1);
    kqhost_hide_interface(host_, HOST_IFACE_ENGINE, 1);  // no settings: the match runs
    EXPECT_EQ(match(file()), 1);
    expect_calls(1, 0, 1, 1, 1);
}

TEST_F(KnownFile, SizeComparesItsLow32Bits) {
    const uint32_t handle = open_bytes(data_);
    kqhost_set_reported_size(host_, handle, (1ull << 32) + 100);
    scan_file *f = create_from_handle(handle);
    set_list({fitting(0, 16), {100, 0, 16, crc_of(0, 16)}});
    EXPECT_EQ(match(f), 1);
}

TEST_F(KnownFile, ShortReadEndsTheMatchAsNoMatch) {
    set_list({fitting(190000, 20000), fitting(0, 4)});  // the first region runs past the end
    scan_file *f = file();
    EXPECT_EQ(match(f), 0);
    EXPECT_EQ(f->known_file_state, 1);
    expect_calls(1, 1, 1, 1, 1);

    kqhost_short_reads(host_, 1000);  // a host that delivers less than asked
    set_list({fitting(0, 4000)});
    EXPECT_EQ(match(file()), 0);
}

TEST_F(KnownFile, AbsurdEntriesEndQuickly) {
    set_list({{static_cast<uint32_t>(data_.size()), 0xFFFFFFF0u, 0xFFFFFFFFu, 0},
              {static_cast<uint32_t>(data_.size()), 0, 0xFFFFFFFFu, 0}});
    EXPECT_EQ(match(file()), 0);
    expect_calls(1, 1, 1, 1, 1);
}

TEST_F(KnownFile, MissingResourcesLeaveTheQuestionOpen) {
    scan_file *f = file();
    EXPECT_EQ(match(f), 0);  // the host has no list
    EXPECT_EQ(f->known_file_state, 0);
    expect_calls(1, 1, 0, 0, 0);

    set_list({fitting(0, 4)});
    kqhost_fail_alloc_at(host_, 1);
    EXPECT_EQ(match(f), 0);
    EXPECT_EQ(f->known_file_state, 0);
    EXPECT_EQ(calls(KQHOST_CALL_ALLOC), 1u);
    EXPECT_EQ(calls(KQHOST_CALL_READ), 0u);
    kqhost_reset_counters(host_);

    EXPECT_EQ(match(f), 1);  // retried once the resources are there
    EXPECT_EQ(f->known_file_state, 2);
}

TEST_F(KnownFile, NoFileOrNoListInterface) {
    EXPECT_EQ(match(nullptr), 0);
    set_list({fitting(0, 4)});
    kqhost_hide_interface(host_, HOST_IFACE_SIZE_LIST, 1);
    scan_file *f = file();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(match(f), 0);
    expect_calls(0, 0, 0, 0, 0);
    scan_file copy = *f;
    copy.instance = 0;
    EXPECT_EQ(match(&copy), 0);
}

}  // namespace
}  // namespace kqtest
