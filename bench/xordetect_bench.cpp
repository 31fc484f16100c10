// Slot 59 per MiB on random data, typical file content and the hostile set,
// with the step-by-step reference model beside it on 64 KiB.
#include <benchmark/benchmark.h>
#include <stdio.h>

#include <string>

#include "module/slots.h"
#include "xordetect/xordetect_oracle.h"
#include "xordetect/xordetect_samples.h"

namespace {

using xsamples::bytes;

bytes file_prefix(const char *path, size_t size) {
    bytes b;
    if (FILE *f = fopen(path, "rb")) {
        b.resize(size);
        b.resize(fread(b.data(), 1, size, f));
        fclose(f);
    }
    if (b.empty()) b.assign(1, 'x');
    while (b.size() < size) b.insert(b.end(), b.begin(), b.begin() + std::min(b.size(), size - b.size()));
    return b;
}

// Against the sixteen-byte key search: many distinct keys that agree in the
// two bytes that make 'M' 'Z' at offsets = 0 mod 16, and a second half full
// of such 'M' 'Z' offsets, so that every key meets every offset.
bytes keys_meeting_every_offset(size_t size) {
    std::mt19937 rng(5);
    bytes b(size, 0);
    const size_t half = size / 2;
    for (size_t i = 0; i + 48 <= half; i += 48) {
        uint8_t key[16];
        for (auto &c : key) c = uint8_t(rng() | 1);
        key[0] = key[1] = 0x80;
        for (int r = 0; r < 3; r++) memcpy(&b[i + 16 * r], key, 16);
    }
    for (size_t m = half; m + 16 <= size; m += 16) {
        b[m] = 'M' ^ 0x80;
        b[m + 1] = 'Z' ^ 0x80;
    }
    return b;
}

enum input { random_data, executable, text, zeros, ones, cc, repeated, dense_xor, dense_add, distinct_keys, worst };

bytes make(input which, size_t size) {
    std::mt19937 rng(42);
    switch (which) {
    case random_data: return xsamples::random_bytes(size, rng);
    case executable: return file_prefix("/usr/bin/cmake", size);
    case text: return file_prefix("/usr/share/common-licenses/GPL-3", size);
    case zeros: return bytes(size, 0x00);
    case ones: return bytes(size, 0xFF);
    case cc: return bytes(size, 0xCC);
    case repeated: return xsamples::repeated_block(size, rng);
    case dense_xor: return xsamples::dense_xor_candidates(size);
    case dense_add: return xsamples::dense_add_candidates(size);
    case distinct_keys: return xsamples::distinct_block_keys(size, rng);
    case worst: return keys_meeting_every_offset(size);
    }
    return {};
}

template <class Scan> void run(benchmark::State &state, Scan scan, size_t size) {
    bytes src = make(input(state.range(0)), size), dec(size);
    uint8_t kb;
    uint32_t kw;
    for (auto _ : state) benchmark::DoNotOptimize(scan(src.data(), dec.data(), &kb, &kw, uint32_t(size)));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

void BM_scan_1MiB(benchmark::State &state) { run(state, xordetect_scan_buffer, 1 << 20); }
void BM_oracle_64KiB(benchmark::State &state) { run(state, xoracle::scan_buffer, 64 << 10); }
void BM_scan_64KiB(benchmark::State &state) { run(state, xordetect_scan_buffer, 64 << 10); }

void inputs(benchmark::internal::Benchmark *b) {
    static const char *const names[] = {"random", "executable", "text", "0x00", "0xFF", "0xCC", "repeated16",
                                        "dense-xor1", "dense-add1", "distinct-keys", "worst-keys"};
    for (int i = random_data; i <= worst; i++) b->Arg(i);
    b->ArgName("input");
    (void)names;  // input numbers follow this list; docs/performance.md names them
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_scan_1MiB)->Apply(inputs);
BENCHMARK(BM_scan_64KiB)->Apply(inputs);
BENCHMARK(BM_oracle_64KiB)->Apply(inputs)->Iterations(1);

}  // namespace
