// The four search slots against glibc's memmem (and, for the case-blind
// slots, memmem over a lower-cased copy of the text), side by side over the
// same text and pattern. Every slot call builds its tables, as it does for
// the engine; the host here hands out plain malloc blocks so that the
// module's own cost is what is measured.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <vector>

#include "module/slots.h"

namespace {

void *bench_alloc(host_context *, uint32_t, uint64_t size) { return malloc(static_cast<size_t>(size)); }
void bench_free(host_context *, uint32_t, void *block) { free(block); }

host_services make_services() {
    host_services s{};
    s.alloc = bench_alloc;
    s.free = bench_free;
    return s;
}
const host_services kServices = make_services();

void *bench_get_interface(host_context *, uint32_t, uint32_t id) {
    return id == HOST_IFACE_SERVICES ? const_cast<host_services *>(&kServices) : nullptr;
}
host_context kContext = {nullptr, bench_get_interface};

// Lower-case letters and spaces; the pattern is the text's last m bytes, so
// every search reads up to its first occurrence, at the latest the end.
struct workload {
    std::vector<uint8_t> text;
    std::vector<uint8_t> pattern;
    workload(int64_t m, int64_t n) : text(static_cast<size_t>(n)) {
        std::mt19937 rng(static_cast<uint32_t>(m * 7919 + n));
        static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz ";
        for (auto &b : text) b = static_cast<uint8_t>(alphabet[rng() % 27]);
        pattern.assign(text.end() - m, text.end());
    }
};

void BM_memmem(benchmark::State &state) {
    workload w(state.range(0), state.range(1));
    for (auto _ : state)
        benchmark::DoNotOptimize(memmem(w.text.data(), w.text.size(), w.pattern.data(), w.pattern.size()));
    state.SetBytesProcessed(state.iterations() * state.range(1));
}

// A case-blind baseline: lower-case the text into a scratch buffer, then memmem.
void BM_lowered_memmem(benchmark::State &state) {
    workload w(state.range(0), state.range(1));
    std::vector<uint8_t> scratch(w.text.size());
    for (auto _ : state) {
        for (size_t i = 0; i < w.text.size(); i++) {
            uint8_t b = w.text[i];
            scratch[i] = static_cast<uint8_t>(static_cast<unsigned>(b - 'A') < 26u ? b + 0x20 : b);
        }
        benchmark::DoNotOptimize(memmem(scratch.data(), scratch.size(), w.pattern.data(), w.pattern.size()));
    }
    state.SetBytesProcessed(state.iterations() * state.range(1));
}

template <search_buffer_fn Slot, bool Scrambled>
void BM_slot(benchmark::State &state) {
    workload w(state.range(0), state.range(1));
    if (Scrambled)
        for (auto &b : w.pattern) b ^= SEARCH_PATTERN_KEY;
    const auto m = static_cast<int32_t>(w.pattern.size());
    const auto n = static_cast<int32_t>(w.text.size());
    int32_t found = 0;
    for (auto _ : state) {
        found = Slot(&kContext, 1, w.text.data(), w.pattern.data(), m, 0, n);
        benchmark::DoNotOptimize(found);
    }
    if (found < 0) state.SkipWithError("pattern not found");
    state.SetBytesProcessed(state.iterations() * state.range(1));
}

void shapes(benchmark::internal::Benchmark *b) {
    for (int64_t n : {20 << 10, 1 << 20})
        for (int64_t m : {2, 4, 16, 64, 255}) b->Args({m, n});
    b->ArgNames({"m", "n"});
}

BENCHMARK(BM_memmem)->Apply(shapes);
BENCHMARK(BM_lowered_memmem)->Apply(shapes);
BENCHMARK_TEMPLATE(BM_slot, search_buffer, false)->Name("BM_search_buffer")->Apply(shapes);
BENCHMARK_TEMPLATE(BM_slot, search_buffer_nocase, false)->Name("BM_search_buffer_nocase")->Apply(shapes);
BENCHMARK_TEMPLATE(BM_slot, search_buffer_scrambled, true)->Name("BM_search_buffer_scrambled")->Apply(shapes);
BENCHMARK_TEMPLATE(BM_slot, search_buffer_scrambled_nocase, true)
    ->Name("BM_search_buffer_scrambled_nocase")
    ->Apply(shapes);

}  // namespace
