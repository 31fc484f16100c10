// A literal search decodes the whole buffer and scans it for every key block:
// quadratic when a buffer holds many keys. Instead, all distinct keys are
// tested together, one residue r = offset mod 16 at a time: a header at an
// offset m with m mod 16 = r needs key bytes r and r+1 to turn the bytes at m
// into 'M' 'Z', so the keys are sorted by those two bytes and each offset
// meets only the keys that can make 'M' 'Z' there. The key lists live in the
// decoded buffer, which the final decode overwrites.
#include "xordetect/block_keys.h"

#include <string.h>

#include "xordetect/deferred_output.h"
#include "xordetect/header_test.h"

namespace kq::xordetect {
namespace {

bool is_key_block(const uint8_t *src, uint64_t i) {
    const uint32_t first = get32(src, i);
    return first != 0 && first == get32(src, i + 16) && first == get32(src, i + 32) &&
           memcmp(src + i, src + i + 16, 16) == 0 && memcmp(src + i, src + i + 32, 16) == 0;
}

template <class T, class Less> void heap_sort(T *a, uint64_t n, Less less) {
    auto sift = [&](uint64_t root, uint64_t end) {
        for (;;) {
            uint64_t child = 2 * root + 1;
            if (child >= end) return;
            if (child + 1 < end && less(a[child], a[child + 1])) child++;
            if (!less(a[root], a[child])) return;
            T t = a[root];
            a[root] = a[child];
            a[child] = t;
            root = child;
        }
    };
    for (uint64_t i = n / 2; i-- > 0;) sift(i, n);
    for (uint64_t end = n; end > 1; end--) {
        T t = a[0];
        a[0] = a[end - 1];
        a[end - 1] = t;
        sift(0, end - 1);
    }
}

// Stable sort of entries by bits 32..47 (two byte-wide counting passes).
void sort_by_pair(uint64_t *e, uint64_t *tmp, uint64_t n) {
    for (unsigned shift = 32; shift <= 40; shift += 8) {
        uint64_t count[257] = {};
        for (uint64_t j = 0; j < n; j++) count[((e[j] >> shift) & 0xFF) + 1]++;
        for (unsigned b = 0; b < 256; b++) count[b + 1] += count[b];
        for (uint64_t j = 0; j < n; j++) tmp[count[(e[j] >> shift) & 0xFF]++] = e[j];
        for (uint64_t j = 0; j < n; j++) e[j] = tmp[j];
    }
}

}  // namespace

block_key_outcome find_block_key(const uint8_t *src, uint8_t *scratch, uint64_t size, uint64_t words_end) {
    block_key_outcome out;
    const uint64_t key_end = size - 48;

    // Runs of consecutive key blocks all hold the same key: count run starts.
    uint64_t runs = 0;
    bool in_run = false;
    for (uint64_t i = 0; i < key_end; i += 16) {
        const bool key = is_key_block(src, i);
        if (key) {
            if (!in_run) runs++;
            out.any_key = true;
            out.last = i;
        }
        in_run = key;
    }
    if (!runs) return out;

    // Scratch layout: run starts (u32), entries and sort space (u64). It
    // always fits in words_end (at least size - 4): two run starts are 48 or
    // more bytes apart (a key block at e and one at e + 32 would make e + 16
    // a key block too), so runs <= size / 48 + 1 and the layout takes at most
    // 7 + 4 * runs + 7 + 16 * runs < size - 4 bytes for any size >= 512.
    const uint64_t skew = (8 - (reinterpret_cast<uintptr_t>(scratch) & 7)) & 7;
    const uint64_t starts_bytes = (runs * 4 + 7) & ~uint64_t(7);
    uint32_t *starts = reinterpret_cast<uint32_t *>(scratch + skew);
    uint64_t *entries = reinterpret_cast<uint64_t *>(scratch + skew + starts_bytes);
    uint64_t *tmp = entries + runs;

    uint64_t n = 0;
    in_run = false;
    for (uint64_t i = 0; i < key_end; i += 16) {
        const bool key = is_key_block(src, i);
        if (key && !in_run) starts[n++] = uint32_t(i);
        in_run = key;
    }

    // Keep the first offset of each distinct key, then restore offset order.
    heap_sort(starts, n, [src](uint32_t a, uint32_t b) {
        const int c = memcmp(src + a, src + b, 16);
        return c < 0 || (c == 0 && a < b);
    });
    uint64_t distinct = 0;
    for (uint64_t j = 0; j < n; j++)
        if (distinct == 0 || memcmp(src + starts[distinct - 1], src + starts[j], 16) != 0) starts[distinct++] = starts[j];
    n = distinct;
    heap_sort(starts, n, [](uint32_t a, uint32_t b) { return a < b; });

    const uint64_t first_key = starts[0];
    uint64_t best = UINT64_MAX;
    uint64_t present[65536 / 64];
    for (unsigned r = 0; r < 16 && best != first_key; r++) {
        const unsigned r1 = (r + 1) & 15;
        for (uint64_t j = 0; j < n; j++) {
            const uint64_t pair = uint64_t(src[starts[j] + r]) | (uint64_t(src[starts[j] + r1]) << 8);
            entries[j] = (pair << 32) | (starts[j] >> 4);
        }
        sort_by_pair(entries, tmp, n);
        memset(present, 0, sizeof present);
        for (uint64_t j = 0; j < n; j++) {
            const uint64_t pair = entries[j] >> 32;
            present[pair >> 6] |= uint64_t(1) << (pair & 63);
        }
        for (uint64_t m = r; m + 510 < size; m += 16) {
            const uint64_t pair = uint64_t(src[m] ^ 0x4D) | (uint64_t(src[m + 1] ^ 0x5A) << 8);
            if (!((present[pair >> 6] >> (pair & 63)) & 1)) continue;
            uint64_t lo = 0, hi = n;  // first entry with this pair
            while (lo < hi) {
                const uint64_t mid = lo + (hi - lo) / 2;
                if ((entries[mid] >> 32) < pair) lo = mid + 1;
                else hi = mid;
            }
            for (uint64_t j = lo; j < n && (entries[j] >> 32) == pair; j++) {
                const uint64_t key_at = (entries[j] & 0xFFFFFFFF) << 4;
                if (key_at >= best) break;
                if (header_ok(xor_block_view{src, m, src + key_at}, size - m)) {
                    best = key_at;
                    break;
                }
            }
        }
    }
    if (best != UINT64_MAX) {
        out.located = true;
        out.winner = best;
    }
    return out;
}

}  // namespace kq::xordetect
