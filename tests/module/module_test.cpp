// The scan_file and its head and tail regions (slots 0-4, 46-53), the entry
// points and the identity record.
#include <string.h>

#include "support/fault_walks.h"
#include "support/module_fixture.h"

namespace kqtest {
namespace {

bytes numbered(size_t n) {
    bytes b(n);
    for (size_t i = 0; i < n; i++) b[i] = static_cast<uint8_t>(i % 251);
    return b;
}

// Slot 4 in the order a host meets it: the if-loaded kinds before and after
// the loads, each load twice. "kind=size" for a region holding the file's
// first (head) or last (tail) bytes, "kind!" for one that does not, "kind-"
// for null; then the reads, plain and zeroed allocations it took.
std::string regions_digest(kqhost *host, scan_file *f, const bytes &file) {
    const helper_api_entry *api = kqhost_api(host);
    const uint64_t reads = kqhost_calls(host, KQHOST_CALL_READ), plain = kqhost_calls(host, KQHOST_CALL_ALLOC),
                   zeroed = kqhost_calls(host, KQHOST_CALL_ALLOC_ZEROED);
    std::string out;
    for (int32_t kind : {10, 11, 1, 2, 1,
                         2, 10, 11, 0, 3, 12}) {  // head and tail if loaded, head, tail, twice; others
        uint64_t size = 7;
        const uint8_t *p = call<SLOT_FILE_GET_REGION>(api, f, kind, &size);
        const bool tail = kind == REGION_TAIL || kind == REGION_TAIL_IF_LOADED;
        const uint64_t start = tail && file.size() >= REGION_SIZE ? file.size() - size : 0;
        out += std::to_string(kind);
        if (!p) out += size ? "-?" : "-";
        else if (memcmp(p, file.data() + start, size) != 0 || (tail && (p[size] | p[size + 1] | p[size + 2] | p[size + 3])))
            out += "!";
        else out += "=" + std::to_string(size);
        out += ' ';
    }
    out += "r=" + std::to_string(kqhost_calls(host, KQHOST_CALL_READ) - reads);
    out += " a=" + std::to_string(kqhost_calls(host, KQHOST_CALL_ALLOC) - plain);
    return out + " z=" + std::to_string(kqhost_calls(host, KQHOST_CALL_ALLOC_ZEROED) - zeroed);
}

struct region_row {
    const char *name;
    size_t size;
    uint64_t short_reads;  // the host delivers at most this much per read (0: all)
    const char *expected;
};

const region_row kRegionRows[] = {
    {"empty", 0, 0, "10- 11- 1- 2- 1- 2- 10- 11- 0- 3- 12- r=2 a=1 z=3"},
    {"short", 100, 0, "10- 11- 1=100 2=100 1=100 2=100 10=100 11=100 0- 3- 12- r=2 a=1 z=3"},
    {"one_region", 20480, 0, "10- 11- 1=20480 2=20480 1=20480 2=20480 10=20480 11=20480 0- 3- 12- r=2 a=1 z=3"},
    {"one_byte_more", 20481, 0, "10- 11- 1=20480 2=20480 1=20480 2=20480 10=20480 11=20480 0- 3- 12- r=2 a=1 z=3"},
    {"long", 50000, 0, "10- 11- 1=20480 2=20480 1=20480 2=20480 10=20480 11=20480 0- 3- 12- r=2 a=1 z=3"},
    {"short_reads", 30000, 1000, "10- 11- 1=1000 2! 1=1000 2! 10=1000 11! 0- 3- 12- r=2 a=1 z=3"},
};

void PrintTo(const region_row &r, std::ostream *os) { *os << r.name; }

class Regions : public ModuleTest, public ::testing::WithParamInterface<region_row> {};

TEST_P(Regions, HeadAndTail) {
    const region_row &row = GetParam();
    const bytes file = numbered(row.size);
    scan_file *f = create(file);
    kqhost_short_reads(host_, row.short_reads);
    EXPECT_EQ(regions_digest(host_, f, file), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, Regions, ::testing::ValuesIn(kRegionRows),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(ModuleTest, RegionFaultWalks) {
    for (const region_row &row : kRegionRows) {
        SCOPED_TRACE(row.name);
        const bytes file = numbered(row.size);
        auto walk = [&] {
            scan_file *f = open_scan_file(host_, file);
            if (!f) return std::string("no file");
            std::string d = regions_digest(host_, f, file);
            close_scan_file(host_, f);
            return d;
        };
        expect_survives_alloc_failures(host_, walk);
        expect_survives_read_failures(host_, walk);
    }
}

// A failed load is not retried; the if-loaded kinds and other kinds create nothing.
TEST_F(ModuleTest, RegionLoadsOnce) {
    scan_file *f = create(numbered(300));
    uint64_t size = 7;
    EXPECT_EQ(call<SLOT_FILE_GET_REGION>(api_, f, REGION_HEAD_IF_LOADED, &size), nullptr);
    EXPECT_EQ(call<SLOT_FILE_GET_REGION>(api_, f, REGION_TAIL + 1, &size), nullptr);
    EXPECT_EQ(f->attached, nullptr);
    kqhost_fail_reads(host_, 1);
    EXPECT_EQ(call<SLOT_FILE_GET_REGION>(api_, f, REGION_HEAD, &size), nullptr);
    kqhost_fail_reads(host_, 0);
    EXPECT_EQ(call<SLOT_FILE_GET_REGION>(api_, f, REGION_HEAD, &size), nullptr) << "a failed head stays failed";
    EXPECT_NE(call<SLOT_FILE_GET_REGION>(api_, f, REGION_TAIL, nullptr), nullptr) << "the size is optional";
    EXPECT_EQ(call<SLOT_FILE_GET_REGION>(api_, nullptr, REGION_HEAD, &size), nullptr);
    EXPECT_EQ(size, 0u);
}

// create fills every word of the object; reset refills it in place and
// gives back every block attached to it.
TEST_F(ModuleTest, ScanFileLife) {
    const uint32_t handle = open_bytes(bytes(1234, 7));
    scan_file *f = create_from_handle(handle);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->ctx, ctx());
    EXPECT_EQ(f->instance, instance());
    EXPECT_EQ(f->services, kqhost_services(host_));
    EXPECT_EQ(f->handle, handle);
    EXPECT_EQ(f->size, 1234u);
    EXPECT_EQ(f->self_api, api_);
    EXPECT_NE(f->size_list_api, nullptr);
    EXPECT_EQ(f->attached, nullptr);
    EXPECT_EQ(f->known_file_state | f->user1 | f->user2 | f->user3, 0u);
    EXPECT_EQ(live_blocks(), 1u);

    const uint32_t other = open_bytes(bytes(5000, 2));
    call<SLOT_SCAN_FILE_SET_USER1>(api_, f, 11);
    call<SLOT_SCAN_FILE_SET_USER2>(api_, f, 22);
    call<SLOT_SCAN_FILE_SET_USER3>(api_, f, 33);
    EXPECT_EQ(call<SLOT_SCAN_FILE_GET_USER1>(api_, f) * 10000 + call<SLOT_SCAN_FILE_GET_USER2>(api_, f) * 100 +
                  call<SLOT_SCAN_FILE_GET_USER3>(api_, f), 112233u);
    f->known_file_state = 2;
    ASSERT_NE(call<SLOT_FILE_GET_REGION>(api_, f, REGION_HEAD, nullptr), nullptr);
    EXPECT_EQ(call<SLOT_SCAN_FILE_RESET>(api_, f, other), 0);
    EXPECT_EQ(live_blocks(), 1u);
    EXPECT_EQ(f->handle, other);
    EXPECT_EQ(f->size, 5000u);
    EXPECT_EQ(f->attached, nullptr);
    EXPECT_EQ(f->known_file_state | f->user1 | f->user2 | f->user3, 0u);
    ASSERT_NE(call<SLOT_FILE_GET_REGION>(api_, f, REGION_HEAD, nullptr), nullptr);
    EXPECT_EQ(call<SLOT_SCAN_FILE_RESET>(api_, f, 0), 0) << "handle 0 still clears the blocks";
    EXPECT_EQ(live_blocks(), 1u);
    EXPECT_EQ(f->handle, other);

    uint64_t size = 0;
    uint32_t got = 0;
    EXPECT_EQ(call<SLOT_SCAN_FILE_GET_SIZE>(api_, f, &size), 0);
    EXPECT_EQ(size, 5000u);
    EXPECT_EQ(call<SLOT_SCAN_FILE_GET_HANDLE>(api_, f, &got), 0);
    EXPECT_EQ(got, other);
    EXPECT_EQ(call<SLOT_SCAN_FILE_SET_HANDLE>(api_, f, 12345), 0);
    EXPECT_EQ(f->handle, 12345u);
    EXPECT_EQ(f->size, 5000u) << "the size is not asked again";
}

// What create refuses, and what a host that cannot serve leaves behind.
TEST_F(ModuleTest, ScanFileCreateRefuses) {
    uint32_t handle = open_bytes(bytes(10)), zero = 0;
    struct {
        host_context *ctx;
        uint32_t instance;
        uint32_t *handle;
        uint32_t hidden;
        uint64_t fail_alloc;
    } rows[] = {{nullptr, instance(), &handle, 0, 0}, {ctx(), 0, &handle, 0, 0}, {ctx(), instance(), nullptr, 0, 0},
                {ctx(), instance(), &zero, 0, 0},      {ctx(), instance(), &handle, HOST_IFACE_SERVICES, 0},
                {ctx(), instance(), &handle, HOST_IFACE_SELF_API, 0}, {ctx(), instance(), &handle, 0, 1}};
    for (const auto &row : rows) {
        if (row.hidden) kqhost_hide_interface(host_, row.hidden, 1);
        kqhost_fail_alloc_at(host_, row.fail_alloc);
        EXPECT_EQ(call<SLOT_SCAN_FILE_CREATE>(api_, row.ctx, row.instance, row.handle), nullptr);
        kqhost_fail_alloc_at(host_, 0);
        if (row.hidden) kqhost_hide_interface(host_, row.hidden, 0);
        EXPECT_EQ(live_blocks(), 0u);
    }
    kqhost_hide_interface(host_, HOST_IFACE_SIZE_LIST, 1);
    scan_file *f = create_from_handle(handle);
    ASSERT_NE(f, nullptr) << "the size list is optional";
    EXPECT_EQ(f->size_list_api, nullptr);
    EXPECT_EQ(call<SLOT_SCAN_FILE_DESTROY>(api_, nullptr, instance(), f), 0);
    EXPECT_EQ(call<SLOT_SCAN_FILE_DESTROY>(api_, ctx(), 0, f), 0);
    EXPECT_EQ(live_blocks(), 1u) << "nothing was released";
    EXPECT_EQ(call<SLOT_SCAN_FILE_DESTROY>(api_, ctx(), instance(), nullptr), 0);
}

// Null arguments: each accessor answers 1 and clears its out value first.
TEST_F(ModuleTest, ScanFileNullArguments) {
    scan_file *f = create(bytes(77));
    uint64_t size = 99;
    uint32_t handle = 99;
    for (int32_t result : {call<SLOT_SCAN_FILE_GET_SIZE>(api_, nullptr, &size), call<SLOT_SCAN_FILE_GET_SIZE>(api_, f, nullptr),
                           call<SLOT_SCAN_FILE_GET_HANDLE>(api_, nullptr, &handle),
                           call<SLOT_SCAN_FILE_GET_HANDLE>(api_, f, nullptr),
                           call<SLOT_SCAN_FILE_SET_HANDLE>(api_, nullptr, 5), call<SLOT_SCAN_FILE_RESET>(api_, nullptr, 5)})
        EXPECT_EQ(result, 1);
    EXPECT_EQ(size | handle, 0u);
    call<SLOT_SCAN_FILE_SET_USER1>(api_, nullptr, 1);
    call<SLOT_SCAN_FILE_SET_USER2>(api_, nullptr, 1);
    call<SLOT_SCAN_FILE_SET_USER3>(api_, nullptr, 1);
    EXPECT_EQ(call<SLOT_SCAN_FILE_GET_USER1>(api_, nullptr), 1u) << "user1 of no object reads as 1";
    EXPECT_EQ(call<SLOT_SCAN_FILE_GET_USER2>(api_, nullptr) | call<SLOT_SCAN_FILE_GET_USER3>(api_, nullptr), 0u);
}

TEST_F(ModuleTest, EntryPointsAndIdentity) {
    auto version = exported<module_get_abi_version_fn>("module_get_abi_version");
    auto info = exported<module_get_info_fn>("module_get_info");
    auto api = exported<module_get_api_fn>("module_get_api");
    ASSERT_TRUE(version && info && api);
    EXPECT_EQ(version(), 1u);
    EXPECT_EQ(info(), info());
    EXPECT_EQ(api(), api_);
    for (int slot = 0; slot < KQHELP_API_SLOTS; slot++) EXPECT_NE(api_[slot], nullptr) << "slot " << slot;
#if defined(__i386__)
    // The record as the engine reads it: name, version 8.1.1.2, 2008-10-09
    // 12:54:46, reserved words, then three 52-byte dependency records.
    uint8_t expected[64] = {'K', 'Q', 'H', 'E', 'L', 'P'};
    const uint8_t tail[] = {8, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0xD8, 0x07, 10, 9, 12, 54, 46, 0,
                            0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    memcpy(expected + 32, tail, sizeof tail);
    EXPECT_EQ(memcmp(info(), expected, sizeof expected), 0);
    EXPECT_STREQ(info()->name_copy, "KQHELP");
    const uint8_t *deps = reinterpret_cast<const uint8_t *>(info()->dependencies);
    const char *names[] = {"KQCORE", "KQVDF", ""};
    const uint32_t versions[][3] = {{8, 1, 2}, {8, 1, 0}, {0, 0, 0}};
    for (int i = 0; i < 3; i++, deps += 52) {
        uint8_t record[52] = {};
        memcpy(record, names[i], strlen(names[i]));
        memcpy(record + 32, versions[i], 12);
        memset(record + 44, 0xFF, 8);
        EXPECT_EQ(memcmp(deps, record, 52), 0) << "dependency " << i;
    }
#endif
}

}  // namespace
}  // namespace kqtest
