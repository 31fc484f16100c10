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

bool is_key_block(const uint8_t *src, uint64_t i) {
    const uint32_t first = get32(src, i);
    return first != 0 && first == get32(src, i + 16) && first == get32(src, i + 32) &&
           memcmp(src + i, src + i + 16, 16) == 0 && memcmp(src + i, src + i + 32, 16) == 0;
}

// Sorts the indices in order[0 .. n) by the sixteen key bytes at
// src + starts[index], stably (least significant byte first).
uint32_t *sort_by_key(const uint8_t *src, const uint32_t *starts, uint32_t *order, uint32_t *tmp, uint64_t n) {
    for (int b = 15; b >= 0; b--) {
        uint32_t count[257] = {};
        for (uint64_t j = 0; j < n; j++) count[src[starts[order[j]] + b] + 1]++;
        if (count[src[starts[order[0]] + b] + 1] == n) continue;  // all equal: nothing moves
        for (unsigned v = 0; v < 256; v++) count[v + 1] += count[v];
        for (uint64_t j = 0; j < n; j++) tmp[count[src[starts[order[j]] + b]]++] = order[j];
        uint32_t *t = order;
        order = tmp;
        tmp = t;
    }
    return order;
}

struct key_record {
    uint8_t key[16];
    uint32_t item;
};

// The same order moving copies of the keys: every pass reads and writes in
// sequence, where the index sort reads the keys all over the buffer.
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

// Keeps the first block of each distinct key, in offset order, using `area`
// (at least 8 n + n / 8 + 4 bytes, 8-aligned) as working memory. Returns the count.
uint64_t distinct_keys(const uint8_t *src, uint32_t *starts, uint64_t n, uint8_t *area, uint64_t area_bytes) {
    uint32_t *const keep = reinterpret_cast<uint32_t *>(area);
    const uint64_t keep_bytes = ((n + 31) / 32) * 4;
    auto first_of_equal = [&](uint64_t j, uint32_t prev, uint32_t item) {
        if (j == 0 || memcmp(src + starts[prev], src + starts[item], 16) != 0) keep[item / 32] |= uint32_t(1) << (item % 32);
    };
    if (2 * n * sizeof(key_record) + keep_bytes <= area_bytes) {
        key_record *const rec = reinterpret_cast<key_record *>(area + ((keep_bytes + 7) & ~uint64_t(7)));
        for (uint64_t j = 0; j < n; j++) {
            memcpy(rec[j].key, src + starts[j], 16);
            rec[j].item = uint32_t(j);
        }
        const key_record *sorted = sort_records(rec, rec + n, n);
        memset(keep, 0, keep_bytes);
        for (uint64_t j = 0; j < n; j++) first_of_equal(j, j ? sorted[j - 1].item : 0, sorted[j].item);
    } else {
        uint32_t *const order = reinterpret_cast<uint32_t *>(area + keep_bytes);
        for (uint64_t j = 0; j < n; j++) order[j] = uint32_t(j);
        const uint32_t *sorted = sort_by_key(src, starts, order, order + n, n);
        memset(keep, 0, keep_bytes);
        for (uint64_t j = 0; j < n; j++) first_of_equal(j, j ? sorted[j - 1] : 0, sorted[j]);
    }
    uint64_t kept = 0;
    for (uint64_t j = 0; j < n; j++)
        if ((keep[j / 32] >> (j % 32)) & 1) starts[kept++] = starts[j];
    return kept;
}

inline constexpr uint32_t kHashFactor = 0x9E3779B1u;

// A key or an offset with the hash of its value (a bijection of the value,
// so equal hashes are equal values): item is the key's index or the offset's
// number within its chunk.
struct hashed {
    uint32_t hash;
    uint32_t item;
};

// Sorts by the top 24 bits of the hash (partition and slot), stably.
void sort_by_hash(hashed *e, hashed *tmp, uint32_t n) {
    for (unsigned shift = 8; shift < 32; shift += 8) {
        uint32_t count[257] = {};
        for (uint32_t j = 0; j < n; j++) count[((e[j].hash >> shift) & 0xFF) + 1]++;
        if (count[((e[0].hash >> shift) & 0xFF) + 1] == n) continue;
        for (unsigned b = 0; b < 256; b++) count[b + 1] += count[b];
        for (uint32_t j = 0; j < n; j++) tmp[count[(e[j].hash >> shift) & 0xFF]++] = e[j];
        memcpy(e, tmp, size_t(n) * sizeof *e);
    }
}

// One partition: keys (sorted by hash) against offsets first + 16 item. The
// keys' slots (the 12 hash bits at most below the partition's) index
// contiguous runs of the sorted keys.
void join_partition(const uint8_t *src, uint32_t size, const uint32_t *starts, const hashed *keys, uint32_t nk,
                    const hashed *offsets, uint32_t nq, uint32_t first, unsigned part_bits, unsigned max_slot_bits,
                    uint32_t *heads, uint32_t *best) {
    unsigned slot_bits = 0;
    while ((uint32_t(1) << slot_bits) < 2 * nk && slot_bits < max_slot_bits && part_bits + slot_bits < 32) slot_bits++;
    const unsigned shift = 32 - part_bits - slot_bits;
    const uint32_t slots = uint32_t(1) << slot_bits, mask = slots - 1;
    auto slot_of = [&](uint32_t h) { return slot_bits ? (h >> shift) & mask : 0; };
    memset(heads, 0, (size_t(slots) + 1) * 4);
    for (uint32_t j = 0; j < nk; j++) heads[slot_of(keys[j].hash) + 1]++;
    for (uint32_t b = 0; b < slots; b++) heads[b + 1] += heads[b];
    for (uint32_t q = 0; q < nq; q++) {
        const uint32_t h = offsets[q].hash, slot = slot_of(h), end = heads[slot + 1];
        const uint32_t m = first + 16 * offsets[q].item;
        // Keys of equal hash stand in index order.
        for (uint32_t e = heads[slot]; e < end; e++) {
            if (keys[e].hash != h) continue;
            const uint32_t j = keys[e].item;
            if (j >= *best) break;
            if (header_ok(xor_block_view{src, m, src + starts[j]}, size - m)) {
                *best = j;
                break;
            }
        }
    }
}

// The first m (m < size - 510) whose decode with the key at key_at starts a
// plausible header, or -1. Only for buffers too small for the tables.
int64_t locate_one(const uint8_t *src, uint64_t size, uint64_t key_at) {
    for (uint64_t m = 0; m + 510 < size; m++) {
        const xor_block_view v{src, m, src + key_at};
        if (v.at(0) == 'M' && v.at(1) == 'Z' && header_ok(v, size - m)) return int64_t(m);
    }
    return -1;
}

}  // namespace

block_key_outcome find_block_key(const uint8_t *src, uint8_t *scratch, uint64_t size, uint64_t words_end) {
    block_key_outcome out;
    const uint64_t key_end = size - 48;
    const uint64_t skew = (8 - (reinterpret_cast<uintptr_t>(scratch) & 7)) & 7;
    if (skew + 8 > words_end) return out;  // cannot happen for 512 bytes or more
    uint8_t *const base = scratch + skew;
    const uint64_t room = words_end - skew;

    // Runs of consecutive key blocks all hold the same key: keep run starts.
    // Run starts lie at least 48 bytes apart, so they fit the scratch.
    uint32_t *const starts = reinterpret_cast<uint32_t *>(base);
    uint64_t runs = 0;
    bool in_run = false;
    for (uint64_t i = 0; i < key_end; i += 16) {
        const bool key = is_key_block(src, i);
        if (key) {
            if (!in_run) starts[runs++] = uint32_t(i);
            out.any_key = true;
            out.last = i;
        }
        in_run = key;
    }
    if (!runs) return out;

    // Scratch layout: starts (u32); keys; a work area for the key sort, then
    // for the offsets; the partition counts and the slot heads (u32).
    const uint64_t starts_bytes = (runs * 4 + 7) & ~uint64_t(7);
    unsigned part_bits = 0;  // about 256 keys per partition, at most 4096 partitions
    while ((runs >> part_bits) > 256 && part_bits < 12) part_bits++;
    const uint32_t parts = uint32_t(1) << part_bits;
    unsigned max_slot_bits = 0;  // at most 4096 slots, two per key of a partition
    while ((uint64_t(1) << max_slot_bits) < 2 * runs && max_slot_bits < 12) max_slot_bits++;
    const uint64_t counts_bytes = 4 * (uint64_t(parts) + 1 + (uint64_t(1) << max_slot_bits) + 1);
    // A bitmap of the keys' hashes, about sixteen bits per key and at most
    // 512 KiB: most offsets meet no key and stop there.
    unsigned filter_bits = 5;
    while ((uint64_t(1) << filter_bits) < 16 * runs && filter_bits < 22) filter_bits++;
    const uint64_t filter_bytes = (uint64_t(1) << filter_bits) / 8;
    const uint64_t fixed = starts_bytes + 16 * runs + counts_bytes + filter_bytes + (runs / 32 + 1) * 4;
    // Offsets go through in chunks that fit the rest.
    const uint64_t chunk = room > fixed ? (room - fixed) / 8 + runs : 0;
    if (chunk < 64) {
        for (uint64_t j = 0; j < runs; j++)
            if (locate_one(src, size, starts[j]) >= 0) {
                out.located = true;
                out.winner = starts[j];
                break;
            }
        return out;
    }
    hashed *const keys = reinterpret_cast<hashed *>(base + starts_bytes);
    hashed *const work = keys + runs;
    uint32_t *const counts = reinterpret_cast<uint32_t *>(work + chunk);
    uint32_t *const heads = counts + parts + 1;
    uint32_t *const filter = heads + (uint64_t(1) << max_slot_bits) + 1;
    const uint32_t n = uint32_t(distinct_keys(src, starts, runs, base + starts_bytes, room - starts_bytes));
    if (n <= kFewBlockKeys) {
        out.few = unsigned(n);
        for (uint32_t j = 0; j < n; j++) out.few_at[j] = starts[j];
        return out;
    }

    // e_lfanew is at most size - 128: below 16 MiB its top byte decodes to 0.
    const uint32_t size32 = uint32_t(size), offsets_end = size32 - 510;
    const bool top_byte = size - 128 < (uint64_t(1) << 24);
    const unsigned hash_shift = 32 - part_bits;
    auto part_of = [&](uint32_t h) { return part_bits ? h >> hash_shift : 0; };
    auto hash_at = [&](uint32_t m) {
        return (uint32_t(src[m] ^ 'M') | (uint32_t(src[m + 1] ^ 'Z') << 8) |
                (top_byte ? uint32_t(src[m + 0x3F]) << 16 : 0)) * kHashFactor;
    };
    uint32_t best = n;  // index of the first key with a header so far
    for (unsigned r = 0; r < 16 && best != 0; r++) {
        const unsigned r1 = (r + 1) & 15, r15 = (r + 15) & 15;
        for (uint32_t j = 0; j < n; j++) {
            const uint8_t *k = src + starts[j];
            const uint32_t v = uint32_t(k[r]) | (uint32_t(k[r1]) << 8) | (top_byte ? uint32_t(k[r15]) << 16 : 0);
            keys[j] = hashed{v * kHashFactor, j};
        }
        sort_by_hash(keys, work, n);
        memset(filter, 0, filter_bytes);
        for (uint32_t j = 0; j < n; j++) {
            const uint32_t f = keys[j].hash >> (32 - filter_bits);
            filter[f / 32] |= uint32_t(1) << (f % 32);
        }
        auto may_meet = [&](uint32_t h) {
            const uint32_t f = h >> (32 - filter_bits);
            return (filter[f / 32] >> (f % 32)) & 1;
        };
        // The offsets m = r + 16 t, a chunk at a time: those that pass the
        // filter are listed in the work area's upper half, then bucketed by
        // partition into its lower half.
        const uint32_t per_chunk = uint32_t(chunk / 2);
        hashed *const passed = work + per_chunk;
        for (uint32_t first = r; first < offsets_end && best != 0;) {
            const uint32_t left = (offsets_end - first + 15) / 16, count = left < per_chunk ? left : per_chunk;
            uint32_t listed = 0;
            for (uint32_t t = 0, m = first; t < count; t++, m += 16) {
                const uint32_t h = hash_at(m);
                if (may_meet(h)) passed[listed++] = hashed{h, t};
            }
            memset(counts, 0, (size_t(parts) + 1) * 4);
            for (uint32_t q = 0; q < listed; q++) counts[part_of(passed[q].hash) + 1]++;
            for (uint32_t b = 0; b < parts; b++) counts[b + 1] += counts[b];
            for (uint32_t q = 0; q < listed; q++) work[counts[part_of(passed[q].hash)]++] = passed[q];
            // Partition b's offsets are now work[counts[b - 1] .. counts[b]).
            uint32_t key_at = 0;
            for (uint32_t b = 0; b < parts; b++) {
                const uint32_t q_from = b ? counts[b - 1] : 0, q_to = counts[b], k_from = key_at;
                while (key_at < n && part_of(keys[key_at].hash) == b) key_at++;
                if (q_from == q_to || k_from == key_at) continue;
                join_partition(src, size32, starts, keys + k_from, key_at - k_from, work + q_from, q_to - q_from,
                               first, part_bits, max_slot_bits, heads, &best);
            }
            if (count < per_chunk) break;
            first += 16 * count;
        }
    }
    if (best < n) {
        out.located = true;
        out.winner = starts[best];
    }
    return out;
}

}  // namespace kq::xordetect
