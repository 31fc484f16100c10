// Slots 54-56: CRC-32 against zlib and CRC-16 against its bitwise rule, in
// pieces; the known-file match as rows of a list, a host and the calls made.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <functional>
#include <random>

#include "checksum/crc16_model.h"
#include "support/fault_walks.h"
#include "support/module_fixture.h"

namespace kqtest {
namespace {

// The test file: 200000 random bytes.
const bytes &file_data() {
    static std::mt19937 rng(42);
    static const bytes data = [] { bytes d(200000); return std::generate(d.begin(), d.end(), std::ref(rng)), d; }();
    return data;
}

// The kernels meet the models in depth in the unit test; here the slots, on
// the check value and in pieces that take each kernel the slots choose by length.
TEST_F(ModuleTest, CrcSlotsAgreeWithModels) {
    const uint8_t *data = file_data().data();
    const uint8_t digits[] = "123456789", zeros[2] = {0, 0};  // the check values
    EXPECT_EQ(~call<SLOT_CRC32_UPDATE>(api_, 0xFFFFFFFFu, digits, 9), 0xCBF43926u);
    EXPECT_EQ(call<SLOT_CRC16_UPDATE>(api_, call<SLOT_CRC16_UPDATE>(api_, 0, digits, 9), zeros, 2), 0x31C3u);
    EXPECT_EQ(~call<SLOT_CRC32_UPDATE>(api_, call<SLOT_CRC32_UPDATE>(api_, 0x12345678, data, 7), data + 7, 69993),
              uint32_t(::crc32(~0x12345678u, data, 70000)));  // zlib inverts at both ends
    EXPECT_EQ(call<SLOT_CRC16_UPDATE>(api_, call<SLOT_CRC16_UPDATE>(api_, 0x12345678, data, 7), data + 7, 69993),
              crc16_bitwise(0x12345678, data, 70000));
}

struct entry { uint32_t size, offset, length, crc32; };
uint32_t crc_of(uint32_t offset, uint32_t length) { return uint32_t(::crc32(0, file_data().data() + offset, length)); }
entry fitting(uint32_t offset, uint32_t length) { return {200000, offset, length, crc_of(offset, length)}; }
entry flipped(entry e) { return e.crc32 ^= 1, e; }

using host_calls = std::array<uint64_t, 5>;  // size list, setting, alloc, seek, read
constexpr int kNoList = -1;

// filler: entries of another size before the list, or kNoList; host: settings, hidden interfaces, faults (undone before
// the second call; allocation 1 is the scan_file's); again: the second match, with the host as it was set up before.
struct known_row { const char *name; std::vector<entry> list; int filler; std::function<void(kqhost *)> host;
                   int32_t match, state; host_calls calls; int32_t again; host_calls again_calls; };
void PrintTo(const known_row &r, std::ostream *os) { *os << r.name; }

const host_calls kListOnly{1, 0, 0, 0, 0};

std::vector<known_row> known_rows() {
    auto setting = [](uint32_t value) { return [value](kqhost *h) { kqhost_set_setting(h, HOST_SETTING_KNOWN_FILES, value); }; };
    const std::vector<entry> first4{fitting(0, 4)};
    return {
        // 150000 bytes take three reads of at most 65536
        {"match", {{1, 0, 10, 0}, fitting(100, 150000)}, 0, nullptr, 1, 2, {1, 1, 1, 1, 3}, 1, kListOnly},
        {"no_match", {flipped(fitting(0, 64)), {200001, 0, 64, crc_of(0, 64)}}, 0, nullptr, 0, 1, {1, 1, 1, 1, 1}, 0, kListOnly},
        // the first CRC computed at an offset decides for every entry there
        {"same_offset_reuses_crc", {flipped(fitting(8, 10)), {200000, 8, 20, crc_of(8, 10)}}, 0, nullptr, 1, 2, {1, 1, 1, 1, 1}, 1, kListOnly},
        {"other_offset_computed", {flipped(fitting(8, 10)), fitting(8, 20), fitting(9, 5)}, 0, nullptr, 1, 2, {1, 1, 1, 2, 2}, 1, kListOnly},
        {"empty_region", {{200000, 5, 0, 0}}, 0, nullptr, 1, 2, {1, 1, 1, 1, 0}, 1, kListOnly},
        {"empty_list", {}, 0, nullptr, 0, 1, {1, 1, 1, 0, 0}, 0, kListOnly},
        {"million_entries", first4, 999999, nullptr, 1, 2, {1, 1, 1, 1, 1}, 1, kListOnly},
        {"too_many_entries", {}, 1000001, nullptr, 0, 0, {1, 1, 0, 0, 0}, 0, {1, 1, 0, 0, 0}},
        {"off_by_setting_08", first4, 0, setting(0x09), 0, 1, {1, 1, 0, 0, 0}, 0, kListOnly},
        {"off_by_setting_20", first4, 0, setting(0x21), 0, 1, {1, 1, 0, 0, 0}, 0, kListOnly},
        {"other_setting_bits", first4, 0, setting(~0x28u), 1, 2, {1, 1, 1, 1, 1}, 1, kListOnly},
        {"no_settings", first4, 0, [](kqhost *h) { kqhost_hide_interface(h, HOST_IFACE_ENGINE, 1); }, 1, 2, {1, 0, 1, 1, 1}, 1, kListOnly},
        {"region_past_the_end", {{200000, 190000, 20000, 0}, fitting(0, 4)}, 0, nullptr, 0, 1, {1, 1, 1, 1, 1}, 0, kListOnly},
        {"short_reads", {fitting(0, 4000)}, 0, [](kqhost *h) { kqhost_short_reads(h, 1000); }, 0, 1, {1, 1, 1, 1, 1}, 0, kListOnly},
        {"absurd_entries", {{200000, 0xFFFFFFF0u, 0xFFFFFFFFu, 0}, {200000, 0, 0xFFFFFFFFu, 0}}, 0, nullptr, 0, 1, {1, 1, 1, 1, 1}, 0, kListOnly},
        // missing resources leave the question open for the next call
        {"no_list", {}, kNoList, nullptr, 0, 0, {1, 1, 0, 0, 0}, 0, {1, 1, 0, 0, 0}},
        {"no_memory", first4, 0, [](kqhost *h) { kqhost_fail_alloc_at(h, 2); }, 0, 0, {1, 1, 1, 0, 0}, 1, {1, 1, 1, 1, 1}},
        {"no_list_interface", first4, 0, [](kqhost *h) { kqhost_hide_interface(h, HOST_IFACE_SIZE_LIST, 1); }, 0, 0, {}, 0, {}},
    };
}

class KnownFile : public ModuleTest, public ::testing::WithParamInterface<known_row> {};

TEST_P(KnownFile, Match) {
    const known_row &row = GetParam();
    auto taken = [&] {
        host_calls c{calls(KQHOST_CALL_GET_SIZE_LIST), calls(KQHOST_CALL_GET_SETTING), calls(KQHOST_CALL_ALLOC),
                     calls(KQHOST_CALL_SEEK), calls(KQHOST_CALL_READ)};
        return kqhost_reset_counters(host_), c;
    };
    std::vector<uint32_t> words;
    if (row.filler != kNoList) {
        words.assign(1 + 4 * size_t(row.filler), 7);  // size 7, offset 7, length 7, CRC 7
        words[0] = uint32_t(row.filler + row.list.size());
        for (const entry &e : row.list) words.insert(words.end(), {e.size, e.offset, e.length, e.crc32});
        kqhost_set_size_list(host_, words.data(), words.size());
    }
    if (row.host) row.host(host_);
    scan_file *f = create(file_data());
    kqhost_reset_counters(host_);
    EXPECT_EQ(call<SLOT_KNOWN_FILE_MATCH>(api_, f), row.match);
    EXPECT_EQ(f->known_file_state, row.state);
    EXPECT_EQ(taken(), row.calls);
    kqhost_fail_alloc_at(host_, 0), kqhost_short_reads(host_, 0);
    EXPECT_EQ(call<SLOT_KNOWN_FILE_MATCH>(api_, f), row.again);
    EXPECT_EQ(taken(), row.again_calls);
}

INSTANTIATE_TEST_SUITE_P(Rows, KnownFile, ::testing::ValuesIn(known_rows()), [](const auto &info) { return std::string(info.param.name); });

// The size compares its low 32 bits; an entry past the list's count is not
// read; a scan_file without an instance, or none, never matches.
TEST_F(ModuleTest, KnownFileEdges) {
    const uint32_t words[] = {2, 200000, 0, 16, ~crc_of(0, 16), 100, 0, 16, crc_of(0, 16), 200000, 0, 16, crc_of(0, 16)};
    kqhost_set_size_list(host_, words, 13);
    const uint32_t handle = open_bytes(file_data());
    kqhost_set_reported_size(host_, handle, (1ull << 32) + 100);
    EXPECT_EQ(call<SLOT_KNOWN_FILE_MATCH>(api_, create_from_handle(handle)), 1);
    scan_file copy = *create(file_data());
    copy.instance = 0;
    EXPECT_EQ(call<SLOT_KNOWN_FILE_MATCH>(api_, &copy) | call<SLOT_KNOWN_FILE_MATCH>(api_, nullptr) |
                  call<SLOT_KNOWN_FILE_MATCH>(api_, create(file_data())), 0);
    expect_survives_alloc_failures(host_, [&] {
        scan_file *f = open_scan_file(host_, file_data());
        const int32_t m = f ? call<SLOT_KNOWN_FILE_MATCH>(api_, f) : -1;
        return close_scan_file(host_, f), std::to_string(m);
    });
}

}  // namespace
}  // namespace kqtest
