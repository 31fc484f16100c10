// The reference host serving the module linked into a fuzzer, made once per
// process; the table for kqhelp::call; a reader of operations from the
// input; and the memory bounds every target checks.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kqhelp/slot_call.hpp"
#include "kqhost.h"

inline kqhost *fuzz_host() {
    static kqhost *host = [] {
        kqhost *h = kqhost_create();
        kqhost_use_linked_module(h, module_get_info(), module_get_api());
        return h;
    }();
    return host;
}

inline const helper_api_entry *fuzz_api() { return kqhost_api(fuzz_host()); }

// A finding: print why and stop, so libFuzzer keeps the input.
#define FUZZ_REQUIRE(cond)                                                      \
    do {                                                                        \
        if (!(cond)) {                                                          \
            fprintf(stderr, "%s:%d: %s does not hold\n", __FILE__, __LINE__, #cond); \
            abort();                                                            \
        }                                                                       \
    } while (0)

// Operations and their arguments, taken from the front of the input; an
// exhausted input reads as zeros.
struct fuzz_input {
    const uint8_t *p;
    size_t n;
    bool empty() const { return n == 0; }
    uint8_t u8() { return n ? (n--, *p++) : 0; }
    uint32_t u16() { return u8() | uint32_t(u8()) << 8; }
    uint32_t u32() { return u16() | u16() << 16; }
    uint64_t u64() { return u32() | uint64_t(u32()) << 32; }
    // Up to max bytes, as many as the next byte asks for.
    const uint8_t *take(size_t max, size_t *got) {
        size_t k = u8() % (max + 1);
        if (k > n) k = n;
        const uint8_t *at = p;
        p += k, n -= k;
        *got = k;
        return at;
    }
};

// Host memory one scan_file may hold at any moment, per subsystem (the
// figures and their derivation are in docs/reliability.md).
namespace fuzz_bound {
constexpr uint64_t region = 8 * 20484 + 4096;          // head, tail, six windows, the cache and small records
constexpr uint64_t pe = region + 2 * 256 * 40 + 1024;  // and the PE records: the section table and its aligned copy
constexpr uint64_t elf = region + 2 * 1024 * 1024;     // and the ELF reader's tables plus one load buffer
constexpr uint64_t search = 3 * 1024 + 256;            // one search call's tables and pattern copy
constexpr uint64_t known_file = 65536 + 64;            // the match buffer
}  // namespace fuzz_bound

// Checks the host's peak since the last call against a bound, then starts a new period.
inline void fuzz_check_peak(uint64_t bound) {
    uint64_t peak = kqhost_peak_bytes(fuzz_host());
    if (peak > bound) {
        fprintf(stderr, "host memory peaked at %llu bytes, bound %llu\n", (unsigned long long)peak,
                (unsigned long long)bound);
        abort();
    }
    kqhost_reset_peak(fuzz_host());
}

// Live blocks and misuse must be back at zero.
inline void fuzz_check_nothing_live() {
    if (kqhost_live_blocks(fuzz_host()) != 0 || kqhost_misuse_count(fuzz_host()) != 0) {
        kqhost_report_leaks(fuzz_host(), stderr);
        abort();
    }
}
