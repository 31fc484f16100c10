// CRC-32 of the module (slot 54, and its table kernel alone) against zlib's
// crc32, side by side over the same buffers.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "checksum/crc32.h"
#include "module/slots.h"

namespace {

std::vector<uint8_t> random_bytes(size_t n) {
    std::mt19937 rng(1);
    std::vector<uint8_t> v(n);
    for (auto &b : v) b = static_cast<uint8_t>(rng());
    return v;
}

void BM_crc32_update(benchmark::State &state) {
    auto data = random_bytes(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32_update(0xFFFFFFFFu, data.data(), static_cast<uint32_t>(data.size())));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_crc32_sliced(benchmark::State &state) {
    auto data = random_bytes(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(kq::crc32_sliced(0xFFFFFFFFu, data.data(), data.size()));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_zlib_crc32(benchmark::State &state) {
    auto data = random_bytes(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(crc32(0, data.data(), static_cast<uInt>(data.size())));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

#define SIZES ->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20)
BENCHMARK(BM_crc32_update) SIZES;
BENCHMARK(BM_crc32_sliced) SIZES;
BENCHMARK(BM_zlib_crc32) SIZES;

}  // namespace
