// Slot 59 per MiB on random data, typical file content, the hostile set and
// the worst input known against the scanner's design, at 1, 4 and 16 MiB to
// show growth; the step-by-step reference model runs beside it at 64 KiB.
// Names: xor-scan/<input>-<size>/kqhelp and .../peer:literal.
#include <benchmark/benchmark.h>
#include <stdio.h>

#include <string>

#include "module/slots.h"
#include "xordetect/lane_kernels.h"
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

// Against the sixteen-byte key search: the first half holds distinct keys that
// agree in the three bytes an offset = 0 mod 16 fixes (bytes 0 and 1 for
// 'M' 'Z', byte 15 for the top byte of e_lfanew), the second half is full of
// such offsets, and byte 14 keeps e_lfanew small, so every key meets every
// offset and its e_lfanew passes the range test: a header test per pair.
bytes keys_meeting_every_offset(size_t size) {
    std::mt19937 rng(5);
    bytes b(size, 0);
    const size_t half = size / 2;
    for (size_t i = 0; i + 48 <= half; i += 48) {
        uint8_t key[16];
        for (auto &c : key) c = uint8_t(rng() | 1);
        key[0] = key[1] = key[15] = 0x80;
        key[14] &= 0x07;
        for (int r = 0; r < 3; r++) memcpy(&b[i + 16 * r], key, 16);
    }
    for (size_t m = half; m + 16 <= size; m += 16) {
        b[m] = 'M' ^ 0x80;
        b[m + 1] = 'Z' ^ 0x80;
        b[m + 15] = 0x80;
    }
    return b;
}

struct input {
    const char *name;
    bytes (*make)(size_t size);
};

std::mt19937 &rng() {
    static std::mt19937 r(42);
    return r;
}

const input inputs[] = {
    {"random", [](size_t n) { return xsamples::random_bytes(n, rng()); }},
    {"executable", [](size_t n) { return file_prefix("/usr/bin/cmake", n); }},
    {"text", [](size_t n) { return file_prefix("/usr/share/common-licenses/GPL-3", n); }},
    {"0x00", [](size_t n) { return bytes(n, 0x00); }},
    {"0xFF", [](size_t n) { return bytes(n, 0xFF); }},
    {"0xCC", [](size_t n) { return bytes(n, 0xCC); }},
    {"repeated16", [](size_t n) { return xsamples::repeated_block(n, rng()); }},
    {"dense-xor1", xsamples::dense_xor_candidates},
    {"dense-add1", xsamples::dense_add_candidates},
    {"distinct-keys", [](size_t n) { return xsamples::distinct_block_keys(n, rng()); }},
    {"worst-keys", keys_meeting_every_offset},
};

template <class Scan> void run(benchmark::State &state, Scan scan, const input &in, size_t size) {
    bytes src = in.make(size), dec(size);
    uint8_t kb;
    uint32_t kw;
    for (auto _ : state) benchmark::DoNotOptimize(scan(src.data(), dec.data(), &kb, &kw, uint32_t(size)));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

std::string label(const input &in, size_t size) {
    return std::string("xor-scan/") + in.name + "-" +
           (size >= (1u << 20) ? std::to_string(size >> 20) + "MiB" : std::to_string(size >> 10) + "KiB");
}

int register_all() {
    benchmark::AddCustomContext("xor-scan kernels", kq::xordetect::best_lane_kernels().name);
    for (const input &in : inputs) {
        // The worst input is quadratic: 256 KiB and 1 MiB show its growth.
        const bool worst = std::string(in.name) == "worst-keys";
        for (size_t kib : {256, 1024, 4096, 16384}) {
            if (worst ? kib > 1024 : kib < 1024) continue;
            const size_t size = kib << 10;
            benchmark::RegisterBenchmark((label(in, size) + "/kqhelp").c_str(),
                                         [&in, size](benchmark::State &s) { run(s, xordetect_scan_buffer, in, size); })
                ->Unit(benchmark::kMillisecond);
        }
        // The literal algorithm beside the scanner at 64 KiB (quadratic on the hostile set).
        const size_t small = 64 << 10;
        benchmark::RegisterBenchmark((label(in, small) + "/kqhelp").c_str(),
                                     [&in](benchmark::State &s) { run(s, xordetect_scan_buffer, in, 64 << 10); })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((label(in, small) + "/peer:literal").c_str(),
                                     [&in](benchmark::State &s) { run(s, xoracle::scan_buffer, in, 64 << 10); })
            ->Unit(benchmark::kMillisecond);
    }
    return 0;
}

[[maybe_unused]] const int registered = register_all();

}  // namespace
