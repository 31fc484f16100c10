// Slots 36 (exact) and 35 (case-blind) against simple peers over the same
// text and pattern: glibc's memmem for the exact search; for the case-blind
// one, memmem over a lower-cased copy of the text (the copy is timed), a
// naive loop through a lower-casing table, and glibc's strcasestr (texts
// without NUL only). Every slot call includes its set-up: the host
// allocations (plain malloc here, so the module's own cost is what is
// measured) and the pattern copy.
//
// Points: "<kind>-<size>-m<length>-<placement>". Kinds: "text" (letters and
// spaces, one letter in eight a capital) and "random" (every byte value);
// "absent": the pattern is cut from the text and every occurrence is then
// broken, so the whole text is searched; "end": the pattern is the text's
// last bytes (short patterns occur early).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
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

uint8_t lower(uint8_t b) { return static_cast<uint8_t>(b >= 'A' && b <= 'Z' ? b + 0x20 : b); }

struct lower_table {
    uint8_t t[256];
    lower_table() {
        for (int b = 0; b < 256; b++) t[b] = lower(static_cast<uint8_t>(b));
    }
};
const lower_table kLower;

using bytes = std::vector<uint8_t>;

bytes lowered(const bytes &v) {
    bytes out(v.size());
    for (size_t i = 0; i < v.size(); i++) out[i] = kLower.t[v[i]];
    return out;
}

int32_t memmem_at(const bytes &text, const bytes &pattern) {
    const void *p = memmem(text.data(), text.size(), pattern.data(), pattern.size());
    return p ? static_cast<int32_t>(static_cast<const uint8_t *>(p) - text.data()) : -1;
}

struct point {
    std::string kind;
    size_t n, m;
    bool absent;
    std::string name() const {
        return kind + "-" + (n >= (1 << 20) ? std::to_string(n >> 20) + "m" : std::to_string(n >> 10) + "k") + "-m" +
               std::to_string(m) + (absent ? "-absent" : "-end");
    }
};

int32_t memmem_from(const bytes &text, size_t from, const bytes &pattern) {
    const void *p = memmem(text.data() + from, text.size() - from, pattern.data(), pattern.size());
    return p ? static_cast<int32_t>(static_cast<const uint8_t *>(p) - text.data()) : -1;
}

struct workload {
    bytes text, pattern;
    // What the peers prepare outside the timed loop: the lower-cased pattern,
    // NUL-terminated copies for strcasestr; and the scratch copy of the text.
    bytes lowered_pattern;
    std::string text_c, pattern_c;
    mutable bytes scratch;

    workload(const point &p, bool nocase) : text(p.n) {
        std::mt19937 rng(static_cast<uint32_t>(p.n * 31 + p.m));
        static const char letters[] = "abcdefghijklmnopqrstuvwxyz ";
        for (auto &b : text) {
            if (p.kind == "random") {
                b = static_cast<uint8_t>(rng());
            } else {
                b = static_cast<uint8_t>(letters[rng() % 27]);
                if (b != ' ' && rng() % 8 == 0) b = static_cast<uint8_t>(b - 0x20);
            }
        }
        if (p.absent) {
            const size_t from = p.n / 2;
            pattern.assign(text.begin() + from, text.begin() + from + p.m);
            // Break every occurrence (as the slot compares) at its last byte.
            const uint8_t last = kLower.t[pattern.back()];
            const uint8_t other = p.kind == "random" ? static_cast<uint8_t>(last ^ 0x55) : (last == 'e' ? 't' : 'e');
            bytes seen = nocase ? lowered(text) : text;
            const bytes wanted = nocase ? lowered(pattern) : pattern;
            for (int32_t at = 0; (at = memmem_from(seen, static_cast<size_t>(at), wanted)) >= 0;) {
                text[at + p.m - 1] = seen[at + p.m - 1] = other;
                at = at + 1 > static_cast<int32_t>(p.m) ? at + 1 - static_cast<int32_t>(p.m) : 0;
            }
        } else {
            pattern.assign(text.end() - p.m, text.end());
        }
        lowered_pattern = lowered(pattern);
        text_c.assign(text.begin(), text.end());
        pattern_c.assign(pattern.begin(), pattern.end());
        scratch.resize(text.size());
    }
};

template <class Fn> void add(const std::string &name, const point &p, bool nocase, Fn fn) {
    benchmark::RegisterBenchmark(name.c_str(), [p, nocase, fn](benchmark::State &state) {
        const workload w(p, nocase);
        const int32_t expected = nocase ? memmem_at(lowered(w.text), w.lowered_pattern) : memmem_at(w.text, w.pattern);
        int32_t found = fn(w);
        if (found != expected) {
            state.SkipWithError("a different answer than memmem");
            return;
        }
        for (auto _ : state) {
            found = fn(w);
            benchmark::DoNotOptimize(found);
        }
        state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p.n));
    });
}

int32_t slot_search(search_buffer_fn slot, const workload &w) {
    return slot(&kContext, 1, w.text.data(), w.pattern.data(), static_cast<int32_t>(w.pattern.size()), 0,
                static_cast<int32_t>(w.text.size()));
}

// The naive case-blind peer: every window, byte by byte through the table.
int32_t naive_nocase(const bytes &text, const bytes &lowered_pattern) {
    const size_t n = text.size(), m = lowered_pattern.size();
    for (size_t j = 0; j + m <= n; j++) {
        size_t i = 0;
        while (i < m && kLower.t[text[j + i]] == lowered_pattern[i]) i++;
        if (i == m) return static_cast<int32_t>(j);
    }
    return -1;
}

int register_all() {
    for (const char *kind : {"text", "random"})
        for (size_t n : {size_t(20) << 10, size_t(1) << 20})
            for (size_t m : {2, 4, 8, 16, 64, 255})
                for (bool absent : {true, false}) {
                    const point p{kind, n, m, absent};
                    const std::string exact = "search/" + p.name() + "/", blind = "search-nocase/" + p.name() + "/";
                    add(exact + "kqhelp", p, false, [](const workload &w) { return slot_search(search_buffer, w); });
                    add(exact + "peer:memmem", p, false,
                        [](const workload &w) { return memmem_at(w.text, w.pattern); });
                    add(blind + "kqhelp", p, true,
                        [](const workload &w) { return slot_search(search_buffer_nocase, w); });
                    add(blind + "peer:lowered-copy-memmem", p, true, [](const workload &w) {
                        for (size_t i = 0; i < w.text.size(); i++) w.scratch[i] = kLower.t[w.text[i]];
                        return memmem_at(w.scratch, w.lowered_pattern);
                    });
                    add(blind + "peer:tolower-naive", p, true,
                        [](const workload &w) { return naive_nocase(w.text, w.lowered_pattern); });
                    if (std::string(kind) == "text")
                        add(blind + "peer:strcasestr", p, true, [](const workload &w) {
                            const char *at = strcasestr(w.text_c.c_str(), w.pattern_c.c_str());
                            return at ? static_cast<int32_t>(at - w.text_c.c_str()) : -1;
                        });
                }
    return 0;
}
const int kRegistered = register_all();

}  // namespace
