// A literal search decodes the whole buffer and scans it for every key block:
// quadratic when a buffer holds many keys. Instead, all distinct keys are
// tested together, one residue r = offset mod 16 at a time: a header at an
// offset m with m mod 16 = r needs key bytes r and r+1 to turn the bytes at m
// into 'M' 'Z', and (in buffers below 16 MiB) key byte r+15 to turn the top
// byte of e_lfanew into 0. The keys are hashed by those three bytes, and each
// offset meets only the keys that agree with it. The tables live in the
// decoded buffer, which the final decode overwrites.
#include "xordetect/block_keys.h"

#include <string.h>

#include "xordetect/deferred_output.h"
#include "xordetect/header_test.h"

namespace kq::xordetect {
namespace {

bool same_block(const uint8_t *src, uint32_t a, uint32_t b) {
    return ((get32(src, a) ^ get32(src, b)) | (get32(src, a + 4) ^ get32(src, b + 4)) |
            (get32(src, a + 8) ^ get32(src, b + 8)) | (get32(src, a + 12) ^ get32(src, b + 12))) == 0;
}

bool is_key_block(const uint8_t *src, uint32_t i) {
    const uint32_t first = get32(src, i);
    return first != 0 && first == get32(src, i + 16) && first == get32(src, i + 32) && same_block(src, i, i + 16) &&
           same_block(src, i, i + 32);
}

struct key_record {
    uint8_t key[16];
    uint32_t item;
};

// Sorts copies of the keys by their sixteen bytes, stably (least significant
// byte first): every pass reads and writes in sequence.
key_record *sort_records(key_record *rec, key_record *tmp, uint64_t n) {
    for (int b = 15; b >= 0; b--) {
        uint32_t count[257] = {};
        for (uint64_t j = 0; j < n; j++) count[rec[j].key[b] + 1]++;
        if (count[rec[0].key[b] + 1] == n) continue;
        for (unsigned v = 0; v < 256; v++) count[v + 1] += count[v];
        for (uint64_t j = 0; j < n; j++) tmp[count[rec[j].key[b]]++] = rec[j];
        key_record *t = rec;
        rec = tmp;
        tmp = t;
    }
    return rec;
}

inline constexpr uint32_t kHashFactor = 0x9E3779B1u;

// A key or an offset with a 32-bit hash: item is the key's index or the
// offset's number.
struct hashed {
    uint32_t hash;
    uint32_t item;
};

// A hash of all sixteen key bytes: equal keys have equal prints.
uint32_t key_print(const uint8_t *k) {
    uint32_t h = get32(k, 0) * kHashFactor;
    for (unsigned o = 4; o < 16; o += 4) h = ((h << 13) | (h >> 19)) ^ (get32(k, o) * 0x85EBCA77u);
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    return h ^ (h >> 15);
}

// Sorts by hash, stably (eleven bits a pass).
hashed *sort_by_print(hashed *e, hashed *tmp, uint64_t n) {
    for (unsigned shift = 0; shift < 32; shift += 11) {
        uint32_t count[2049] = {};
        for (uint64_t j = 0; j < n; j++) count[((e[j].hash >> shift) & 2047) + 1]++;
        if (count[((e[0].hash >> shift) & 2047) + 1] == n) continue;
        for (unsigned b = 0; b < 2048; b++) count[b + 1] += count[b];
        for (uint64_t j = 0; j < n; j++) tmp[count[(e[j].hash >> shift) & 2047]++] = e[j];
        hashed *t = e;
        e = tmp;
        tmp = t;
    }
    return e;
}

// Keeps the first block of each distinct key, in offset order, using `area`
// (at least 40 n + n / 8 + 8 bytes, 8-aligned) as working memory. Returns the count.
uint64_t distinct_keys(const uint8_t *src, uint32_t *starts, uint64_t n, uint8_t *area) {
    uint32_t *const keep = reinterpret_cast<uint32_t *>(area);
    const uint64_t keep_bytes = ((n + 31) / 32) * 4;
    uint8_t *const after_keep = area + ((keep_bytes + 7) & ~uint64_t(7));
    auto mark = [&](uint32_t item) { keep[item / 32] |= uint32_t(1) << (item % 32); };
    auto same_key = [&](uint32_t a, uint32_t b) { return memcmp(src + starts[a], src + starts[b], 16) == 0; };
    memset(keep, 0, keep_bytes);
    // Sorted by a print of the whole key, equal keys share a run of equal
    // prints in offset order. Different keys rarely share a print; more than
    // a few in one run (keys built to collide) send all keys to the exact sort.
    constexpr unsigned kFewPerPrint = 8;
    bool exact = false;
    hashed *const e = reinterpret_cast<hashed *>(after_keep);
    for (uint64_t j = 0; j < n; j++) e[j] = hashed{key_print(src + starts[j]), uint32_t(j)};
    const hashed *by_print = sort_by_print(e, e + n, n);
    for (uint64_t a = 0, b; a < n && !exact; a = b) {
        uint32_t kinds[kFewPerPrint];  // the first key of each kind in the run
        unsigned count = 0;
        for (b = a; b < n && by_print[b].hash == by_print[a].hash && !exact; b++) {
            const uint32_t item = by_print[b].item;
            unsigned k = 0;
            while (k < count && !same_key(kinds[k], item)) k++;
            if (k < count) continue;
            if (count == kFewPerPrint) exact = true;
            else {
                kinds[count++] = item;
                mark(item);
            }
        }
    }
    if (exact) {
        memset(keep, 0, keep_bytes);
        key_record *const rec = reinterpret_cast<key_record *>(after_keep);
        for (uint64_t j = 0; j < n; j++) {
            memcpy(rec[j].key, src + starts[j], 16);
            rec[j].item = uint32_t(j);
        }
        const key_record *sorted = sort_records(rec, rec + n, n);
        for (uint64_t j = 0; j < n; j++)
            if (j == 0 || !same_key(sorted[j - 1].item, sorted[j].item)) mark(sorted[j].item);
    }
    uint64_t kept = 0;
    for (uint64_t j = 0; j < n; j++)
        if ((keep[j / 32] >> (j % 32)) & 1) starts[kept++] = starts[j];
    return kept;
}

}  // namespace

block_key_outcome find_block_key(const lane_kernels &lanes, const uint8_t *src, uint8_t *scratch, uint64_t size,
                                 uint64_t words_end) {
    block_key_outcome out;
    const uint32_t key_end = uint32_t(size - 48);  // 32-bit counters: fewer registers on i386
    const uint64_t skew = (8 - (reinterpret_cast<uintptr_t>(scratch) & 7)) & 7;
    if (skew + 8 > words_end) return out;  // cannot happen for 512 bytes or more
    uint8_t *const base = scratch + skew;
    const uint64_t room = words_end - skew;

    // Runs of consecutive key blocks all hold the same key: keep run starts.
    // Run starts lie at least 48 bytes apart, so they fit the scratch.
    uint32_t *const starts = reinterpret_cast<uint32_t *>(base);
    uint64_t runs = 0;
    bool in_run = false;
    for (uint32_t i = 0; i < key_end; i += 16) {
        // Blocks i and i + 16 both need blocks i + 16 and i + 32 equal and
        // the first word of block i + 16 not zero: one test usually rules out
        // two blocks.
        const uint32_t word = get32(src, i + 16);
        if (i + 16 < key_end && (word == 0 || word != get32(src, i + 32))) {
            in_run = false;
            i += 16;
            continue;
        }
        // After a key block at i - 16, blocks i - 16 to i + 16 are equal.
        const bool key = in_run ? same_block(src, i + 16, i + 32) : is_key_block(src, i);
        if (key) {
            if (!in_run) starts[runs++] = uint32_t(i);
            out.any_key = true;
            out.last = i;
        }
        in_run = key;
    }
    if (!runs) return out;

    // The distinct-key pass needs a bit and two key records a run (about 40
    // bytes); with run starts 48 bytes apart this fits every buffer of 512
    // bytes or more, and the test below only keeps that reasoning out of the
    // memory's safety.
    const uint64_t starts_bytes = (runs * 4 + 7) & ~uint64_t(7);
    if (starts_bytes + runs / 8 + 8 + 2 * sizeof(key_record) * runs > room) return out;
    const uint32_t n = uint32_t(distinct_keys(src, starts, runs, base + starts_bytes));
    if (n <= kFewBlockKeys) {
        out.few = unsigned(n);
        for (uint32_t j = 0; j < n; j++) out.few_at[j] = starts[j];
        return out;
    }

    // Scratch layout after the starts (at least 80 bytes a key are left):
    // - one residue's chains: each key's print and the next key of its slot
    //   (u32 each) and the slots' first keys (about one slot for four keys);
    // - a pair table of 16 * 2^pair_bits bits: for each key and residue r, the
    //   bit 16 v + r, v the low pair_bits of (key byte r, key byte r+1), is set
    //   (with the residue in the low bits, a vector of sixteen offsets from a
    //   multiple of 16 finds each offset's residue in its lane number);
    // - a list of the offsets that pass their residue's pair table (room for
    //   at least eight a key).
    // One pass over the buffer in order meets each offset with its residue's
    // table; the few that pass are joined with the keys one residue at a
    // time whenever the list is full, and at the end.
    unsigned slot_bits = 3;
    while ((uint32_t(4) << slot_bits) < n) slot_bits++;
    const uint32_t slots = uint32_t(1) << slot_bits;
    uint32_t *const print_of = reinterpret_cast<uint32_t *>(base + starts_bytes);
    uint32_t *const next = print_of + n;
    uint32_t *const first = next + n;
    uint32_t *const pairs = first + slots;
    const uint64_t left = room - starts_bytes - 8 * uint64_t(n) - 4 * uint64_t(slots);
    unsigned pair_bits = 16;
    while (pair_bits > 5 && (uint64_t(2) << pair_bits) > left / 2) pair_bits--;
    uint32_t *const list = pairs + (uint32_t(1) << pair_bits) / 2;
    const uint64_t capacity = (left - (uint64_t(2) << pair_bits)) / 4;
    const pair_filter pf{pairs, (uint32_t(1) << pair_bits) - 1};
    memset(pairs, 0, size_t(2) << pair_bits);
    for (uint32_t j = 0; j < n; j++) {
        const uint8_t *k = src + starts[j];
        for (unsigned r = 0; r < 16; r++) {
            const uint32_t bit = pf.bit(k[r] | uint32_t(k[(r + 1) & 15]) << 8, r);
            pairs[bit / 32] |= uint32_t(1) << (bit % 32);
        }
    }

    // e_lfanew is at most size - 128: below 16 MiB its top byte decodes to 0.
    // The chains hash that byte with the pair.
    const uint32_t size32 = uint32_t(size), offsets_end = size32 - 510;
    const uint32_t top_mask = size - 128 < (uint64_t(1) << 24) ? 0xFF0000 : 0;
    const unsigned slot_shift = 32 - slot_bits;
    uint32_t best = n;  // index of the first key with a header so far
    auto print = [top_mask](uint32_t pair, uint32_t top) { return (pair | ((top << 16) & top_mask)) * kHashFactor; };
    uint32_t in_list[16] = {};  // the list's offsets of each residue
    auto join = [&](uint64_t count) {
        for (unsigned r = 0; r < 16 && best != 0; r++) {
            if (!in_list[r]) continue;
            in_list[r] = 0;
            const unsigned r1 = (r + 1) & 15, r15 = (r + 15) & 15;
            // Keys enter their slot's chain from the last, so chains run in
            // index order and end with UINT32_MAX (never below best).
            memset(first, 0xFF, 4 * size_t(slots));
            for (uint32_t j = n; j-- > 0;) {
                const uint8_t *k = src + starts[j];
                const uint32_t h = print(k[r] | uint32_t(k[r1]) << 8, k[r15]);
                print_of[j] = h;
                next[j] = first[h >> slot_shift];
                first[h >> slot_shift] = j;
            }
            // The offsets' prints come from the same bytes, 'M' 'Z' undone.
            for (uint64_t e = 0; e < count && best != 0; e++) {
                const uint32_t m = list[e];
                if ((m & 15) != r) continue;
                const uint32_t h = print(get16(src, m) ^ 0x5A4D, src[m + 0x3F]);
                for (uint32_t j = first[h >> slot_shift]; j < best; j = next[j]) {
                    if (print_of[j] == h && header_ok(xor_block_view{src, m, src + starts[j]}, size32 - m)) {
                        best = j;
                        break;
                    }
                }
            }
        }
    };
    uint64_t count = 0;
    uint32_t hits;
    for (uint64_t at = lanes.find_pairs(src, 0, offsets_end, &pf, &hits); at < offsets_end && best != 0;
         at = lanes.find_pairs(src, at + 32, offsets_end, &pf, &hits))
        for (; hits; hits &= hits - 1) {
            const uint32_t m = uint32_t(at) + unsigned(__builtin_ctz(hits));
            in_list[m & 15]++;
            list[count++] = m;
            if (count == capacity) {
                join(count);
                count = 0;
            }
        }
    join(count);
    if (best < n) {
        out.located = true;
        out.winner = starts[best];
    }
    return out;
}

}  // namespace kq::xordetect
