// The scan_file and its head and tail regions (slots 0-4, 46-53), the entry
// points, the identity record and the inflate slots.
#include <string.h>
#include <zlib.h>

#include "support/fault_walks.h"
#include "support/module_fixture.h"

namespace kqtest {
namespace {

// Slot 4 in the order a host meets it: the if-loaded and other kinds, "+" if they attached anything, then the loads
// twice and the if-loaded kinds again. "kind=size" for a region holding the file's first (head) or last (tail) bytes,
// "kind!" for one that does not, "kind-" for null; then the reads, plain and zeroed allocations it took.
std::string regions_digest(kqhost *host, scan_file *f, const bytes &file) {
    auto count = [&](kqhost_call kind) { return kqhost_calls(host, kind); };
    const uint64_t reads = count(KQHOST_CALL_READ), plain = count(KQHOST_CALL_ALLOC), zeroed = count(KQHOST_CALL_ALLOC_ZEROED);
    std::string out;
    for (int32_t kind : {10, 11, 0, 3, 12, -1, 1, 2, 1, 2, 10, 11}) {
        if (kind < 0 && f->attached) out += "+ ";
        if (kind < 0) continue;
        uint64_t size = 7;
        const uint8_t *p = call<SLOT_FILE_GET_REGION>(kqhost_api(host), f, kind, &size);
        const bool tail = kind == REGION_TAIL || kind == REGION_TAIL_IF_LOADED;
        const uint64_t start = tail && file.size() >= REGION_SIZE ? file.size() - size : 0;
        out += std::to_string(kind);
        if (!p) out += size ? "-? " : "- ";
        else if (memcmp(p, file.data() + start, size) != 0 || (tail && (p[size] | p[size + 1] | p[size + 2] | p[size + 3])))
            out += "! ";
        else out += "=" + std::to_string(size) + " ";
    }
    return out + "r=" + std::to_string(count(KQHOST_CALL_READ) - reads) + " a=" +
           std::to_string(count(KQHOST_CALL_ALLOC) - plain) + " z=" + std::to_string(count(KQHOST_CALL_ALLOC_ZEROED) - zeroed);
}

// short_reads: the host delivers at most this much per read (0: all).
const struct { size_t size; uint64_t short_reads; const char *expected; } kRegionRows[] = {
    {0, 0, "10- 11- 0- 3- 12- 1- 2- 1- 2- 10- 11- r=2 a=1 z=3"},
    {100, 0, "10- 11- 0- 3- 12- 1=100 2=100 1=100 2=100 10=100 11=100 r=2 a=1 z=3"},
    {20480, 0, "10- 11- 0- 3- 12- 1=20480 2=20480 1=20480 2=20480 10=20480 11=20480 r=2 a=1 z=3"},
    {20481, 0, "10- 11- 0- 3- 12- 1=20480 2=20480 1=20480 2=20480 10=20480 11=20480 r=2 a=1 z=3"},
    {30000, 1000, "10- 11- 0- 3- 12- 1=1000 2! 1=1000 2! 10=1000 11! r=2 a=1 z=3"},
};

TEST_F(ModuleTest, RegionsAndTheirFaultWalks) {
    for (const auto &row : kRegionRows) {
        SCOPED_TRACE(row.size);
        bytes file(row.size);
        for (size_t i = 0; i < file.size(); i++) file[i] = uint8_t(i % 251);
        auto walk = [&] {
            scan_file *f = open_scan_file(host_, file);
            const std::string d = f ? regions_digest(host_, f, file) : "no file";
            return close_scan_file(host_, f), d;
        };
        kqhost_short_reads(host_, row.short_reads);
        EXPECT_EQ(walk(), row.expected);
        expect_survives_alloc_failures(host_, walk);
        EXPECT_EQ(expect_survives_read_failures(host_, walk), kRegionRows[0].expected) << "a failed load is not retried";
    }
}

// create fills every word of the object; reset refills it in place and gives
// back every block attached to it, or with handle 0 only gives them back.
TEST_F(ModuleTest, ScanFileLife) {
    const uint32_t handle = open_bytes(bytes(1234, 7)), other = open_bytes(bytes(5000, 2));
    scan_file *f = create_from_handle(handle);
    ASSERT_TRUE(f && f->ctx == ctx() && f->instance == instance() && f->services == kqhost_services(host_) &&
                f->self_api == api_ && f->size_list_api);
    auto state = [&] {  // "handle size attached? known user1 user2 user3 live-blocks", through the accessors
        uint64_t size = 0;
        uint32_t got = 0;
        std::string s = std::to_string(call<SLOT_SCAN_FILE_GET_SIZE>(api_, f, &size) | call<SLOT_SCAN_FILE_GET_HANDLE>(api_, f, &got));
        for (uint64_t v : {uint64_t(got), size, uint64_t(f->attached != nullptr), uint64_t(f->known_file_state),
                           uint64_t(call<SLOT_SCAN_FILE_GET_USER1>(api_, f)), uint64_t(call<SLOT_SCAN_FILE_GET_USER2>(api_, f)),
                           uint64_t(call<SLOT_SCAN_FILE_GET_USER3>(api_, f)), live_blocks()})
            s += " " + std::to_string(v);
        return s;
    };
    const std::string h = std::to_string(handle), o = std::to_string(other);
    EXPECT_EQ(state(), "0 " + h + " 1234 0 0 0 0 0 1");
    call<SLOT_SCAN_FILE_SET_USER1>(api_, f, 11), call<SLOT_SCAN_FILE_SET_USER2>(api_, f, 22), call<SLOT_SCAN_FILE_SET_USER3>(api_, f, 33);
    f->known_file_state = 2;
    ASSERT_NE(call<SLOT_FILE_GET_REGION>(api_, f, REGION_HEAD, nullptr), nullptr);
    EXPECT_EQ(state().substr(0, h.size() + 20), "0 " + h + " 1234 1 2 11 22 33");
    EXPECT_EQ(call<SLOT_SCAN_FILE_RESET>(api_, f, other), 0);
    EXPECT_EQ(state(), "0 " + o + " 5000 0 0 0 0 0 1");
    ASSERT_NE(call<SLOT_FILE_GET_REGION>(api_, f, REGION_HEAD, nullptr), nullptr);
    EXPECT_EQ(call<SLOT_SCAN_FILE_RESET>(api_, f, 0), 0);
    EXPECT_EQ(state(), "0 " + o + " 5000 0 0 0 0 0 1") << "handle 0 still clears the blocks";
    EXPECT_EQ(call<SLOT_SCAN_FILE_SET_HANDLE>(api_, f, 12345), 0);
    EXPECT_EQ(state(), "0 12345 5000 0 0 0 0 0 1") << "the size is not asked again";
}

// What create refuses, what a host that cannot serve leaves behind, and null
// arguments elsewhere: 1 from each accessor, which clears its out value first.
TEST_F(ModuleTest, RefusedArguments) {
    uint32_t handle = open_bytes(bytes(10)), zero = 0;
    const struct { host_context *ctx; uint32_t instance, *handle, hidden; uint64_t fail_alloc; } rows[] = {
        {nullptr, instance(), &handle, 0, 0}, {ctx(), 0, &handle, 0, 0}, {ctx(), instance(), nullptr, 0, 0},
        {ctx(), instance(), &zero, 0, 0},     {ctx(), instance(), &handle, HOST_IFACE_SERVICES, 0},
        {ctx(), instance(), &handle, HOST_IFACE_SELF_API, 0}, {ctx(), instance(), &handle, 0, 1}};
    for (const auto &row : rows) {
        if (row.hidden) kqhost_hide_interface(host_, row.hidden, 1);
        kqhost_fail_alloc_at(host_, row.fail_alloc);
        EXPECT_TRUE(!call<SLOT_SCAN_FILE_CREATE>(api_, row.ctx, row.instance, row.handle) && live_blocks() == 0);
        kqhost_fail_alloc_at(host_, 0);
        if (row.hidden) kqhost_hide_interface(host_, row.hidden, 0);
    }
    kqhost_hide_interface(host_, HOST_IFACE_SIZE_LIST, 1);
    scan_file *f = create_from_handle(handle);
    ASSERT_TRUE(f && !f->size_list_api) << "the size list is optional";
    EXPECT_EQ(call<SLOT_SCAN_FILE_DESTROY>(api_, nullptr, instance(), f) | call<SLOT_SCAN_FILE_DESTROY>(api_, ctx(), 0, f) |
                  call<SLOT_SCAN_FILE_DESTROY>(api_, ctx(), instance(), nullptr), 0);
    EXPECT_EQ(live_blocks(), 1u) << "nothing was released";
    uint64_t size = 99, region_size = 99;
    uint32_t got = 99;
    EXPECT_EQ(call<SLOT_FILE_GET_REGION>(api_, nullptr, REGION_HEAD, &region_size), nullptr);
    EXPECT_NE(call<SLOT_FILE_GET_REGION>(api_, f, REGION_TAIL, nullptr), nullptr) << "the size is optional";
    for (int32_t result : {call<SLOT_SCAN_FILE_GET_SIZE>(api_, nullptr, &size), call<SLOT_SCAN_FILE_GET_SIZE>(api_, f, nullptr),
                           call<SLOT_SCAN_FILE_GET_HANDLE>(api_, nullptr, &got), call<SLOT_SCAN_FILE_GET_HANDLE>(api_, f, nullptr),
                           call<SLOT_SCAN_FILE_SET_HANDLE>(api_, nullptr, 5), call<SLOT_SCAN_FILE_RESET>(api_, nullptr, 5)})
        EXPECT_EQ(result, 1);
    EXPECT_EQ(size | region_size | got, 0u);
    call<SLOT_SCAN_FILE_SET_USER1>(api_, nullptr, 1), call<SLOT_SCAN_FILE_SET_USER2>(api_, nullptr, 1), call<SLOT_SCAN_FILE_SET_USER3>(api_, nullptr, 1);
    EXPECT_EQ(call<SLOT_SCAN_FILE_GET_USER1>(api_, nullptr), 1u) << "user1 of no object reads as 1";
    EXPECT_EQ(call<SLOT_SCAN_FILE_GET_USER2>(api_, nullptr) | call<SLOT_SCAN_FILE_GET_USER3>(api_, nullptr), 0u);
}

// A record as the engine reads it: a NUL-padded 32-byte name, little-endian
// words, the given bytes, two reserved words of 0xFF.
bytes record(const char *name, std::initializer_list<uint32_t> words, std::initializer_list<uint8_t> rest = {}) {
    bytes r(name, name + strlen(name));
    r.resize(32);
    for (uint32_t w : words)
        for (int shift = 0; shift < 32; shift += 8) r.push_back(uint8_t(w >> shift));
    r.insert(r.end(), rest);
    r.insert(r.end(), 8, 0xFF);
    return r;
}

TEST_F(ModuleTest, EntryPointsAndIdentity) {
    auto info = exported<module_get_info_fn>("module_get_info");
    ASSERT_TRUE(info);
    EXPECT_EQ(exported<module_get_abi_version_fn>("module_get_abi_version")(), 1u);
    EXPECT_EQ(exported<module_get_api_fn>("module_get_api")(), api_);
    // Slots 39-43 are zlib's own entry points with no wrapper: zlib's contract is zlib's to test.
    EXPECT_TRUE(kqhelp::slot<SLOT_INFLATE_INIT>(api_) == &inflateInit_ && kqhelp::slot<SLOT_INFLATE>(api_) == &inflate &&
                kqhelp::slot<SLOT_INFLATE_END>(api_) == &inflateEnd && kqhelp::slot<SLOT_INFLATE_RESET>(api_) == &inflateReset &&
                kqhelp::slot<SLOT_UNCOMPRESS>(api_) == &uncompress);
    // Version 8.1.1.2, built 2008-10-09 12:54:46; then three 52-byte dependency records.
    const auto *raw = reinterpret_cast<const uint8_t *>(info());
    EXPECT_EQ(bytes(raw, raw + 64), record("KQHELP", {8, 1, 1, 2}, {0xD8, 0x07, 10, 9, 12, 54, 46, 0}));
    EXPECT_STREQ(info()->name_copy, "KQHELP");
    bytes deps = record("KQCORE", {8, 1, 2});
    for (const bytes &r : {record("KQVDF", {8, 1, 0}), record("", {0, 0, 0})}) deps.insert(deps.end(), r.begin(), r.end());
    raw = reinterpret_cast<const uint8_t *>(info()->dependencies);
    EXPECT_EQ(bytes(raw, raw + deps.size()), deps);
}

}  // namespace
}  // namespace kqtest
