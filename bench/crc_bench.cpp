// CRC-32 (slot 54) against zlib's crc32 and CRC-16 (slot 55) against a
// straightforward byte-table CRC-16, over the same random buffers. The
// "-portable" groups are the table kernels alone, the path of processors
// without carry-less multiplication.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "checksum/crc_kernels.h"
#include "module/slots.h"

namespace {

std::vector<uint8_t> random_bytes(size_t n) {
    std::mt19937 rng(1);
    std::vector<uint8_t> v(n);
    for (auto &b : v) b = static_cast<uint8_t>(rng());
    return v;
}

// The CRC-16 every textbook gives: one lookup in a 256-entry table per byte.
struct byte_table_crc16 {
    uint16_t table[256];
    byte_table_crc16() {
        for (unsigned b = 0; b < 256; b++) {
            unsigned r = b << 8;
            for (int k = 0; k < 8; k++) r = (r & 0x8000) ? (r << 1) ^ 0x1021 : r << 1;
            table[b] = static_cast<uint16_t>(r);
        }
    }
    uint32_t operator()(uint32_t crc, const uint8_t *p, size_t n) const {
        uint32_t r = crc & 0xFFFF;
        for (size_t i = 0; i < n; i++) r = ((r << 8) & 0xFFFF) ^ table[r >> 8] ^ p[i];
        return r;
    }
};
const byte_table_crc16 kByteTableCrc16;

template <class Fn> void add(const std::string &name, size_t size, Fn fn) {
    benchmark::RegisterBenchmark(name.c_str(), [size, fn](benchmark::State &state) {
        const std::vector<uint8_t> data = random_bytes(size);
        for (auto _ : state) benchmark::DoNotOptimize(fn(data.data(), data.size()));
        state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
    });
}

int register_all() {
    const struct {
        const char *name;
        size_t size;
    } sizes[] = {{"4k", 4 << 10}, {"64k", 64 << 10}, {"1m", 1 << 20}};
    for (const auto &s : sizes) {
        const std::string c = std::string("/") + s.name + "/";
        add("crc32" + c + "kqhelp", s.size, [](const uint8_t *p, size_t n) { return crc32_update(~0u, p, uint32_t(n)); });
        add("crc32" + c + "peer:zlib", s.size, [](const uint8_t *p, size_t n) { return crc32(0, p, uInt(n)); });
        add("crc32-portable" + c + "kqhelp", s.size, [](const uint8_t *p, size_t n) { return kq::crc32_sliced(~0u, p, n); });
        add("crc32-portable" + c + "peer:zlib", s.size, [](const uint8_t *p, size_t n) { return crc32(0, p, uInt(n)); });
        add("crc16" + c + "kqhelp", s.size, [](const uint8_t *p, size_t n) { return crc16_update(0, p, uint32_t(n)); });
        add("crc16" + c + "peer:byte-table", s.size, [](const uint8_t *p, size_t n) { return kByteTableCrc16(0, p, n); });
        add("crc16-portable" + c + "kqhelp", s.size, [](const uint8_t *p, size_t n) { return kq::crc16_sliced(0, p, n); });
        add("crc16-portable" + c + "peer:byte-table", s.size,
            [](const uint8_t *p, size_t n) { return kByteTableCrc16(0, p, n); });
    }
    return 0;
}
const int kRegistered = register_all();

}  // namespace
