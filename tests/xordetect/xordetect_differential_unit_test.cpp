// The scanner against the step-by-step reference model: every output (result,
// key byte, key word, the whole decoded buffer, the whole source buffer) must
// agree, on noise, on every scheme's encodings and their mutations, on long
// runs of one byte, on repeated and distinct sixteen-byte blocks and on paths
// built to be rare.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "module/slots.h"
#include "xordetect/scan_buffer.h"
#include "xordetect/xordetect_oracle.h"
#include "xordetect/xordetect_samples.h"

namespace {

using xsamples::bytes;

// Runs the reference model and the scanner with each kernel set this
// processor runs on copies of src with the same decoded-buffer garbage, and
// both key finders on the first 512 bytes.
void expect_same_scan(const bytes &src, std::mt19937 &rng, const std::string &what) {
    SCOPED_TRACE(what + " size " + std::to_string(src.size()));
    const bytes garbage = xsamples::random_bytes(src.size(), rng);
    bytes src_ref = src, dec_ref = garbage;
    uint8_t kb_ref = 0x5C;
    uint32_t kw_ref = 0xDEADBEEF;
    const uint32_t n = uint32_t(src.size());
    const int32_t r_ref = xoracle::scan_buffer(src_ref.data(), dec_ref.data(), &kb_ref, &kw_ref, n);
    for (const kq::xordetect::lane_kernels *const *lanes = kq::xordetect::all_lane_kernels; *lanes; lanes++) {
        if (!(*lanes)->available()) continue;
        SCOPED_TRACE((*lanes)->name);
        bytes src_fast = src, dec_fast = garbage;
        uint8_t kb_fast = 0x5C;
        uint32_t kw_fast = 0xDEADBEEF;
        ASSERT_EQ(kq::xordetect::scan_buffer(**lanes, src_fast.data(), dec_fast.data(), &kb_fast, &kw_fast, n), r_ref);
        ASSERT_EQ(kb_fast, kb_ref);
        ASSERT_EQ(kw_fast, kw_ref);
        auto agree = [](const bytes &a, const bytes &b) { return size_t(std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin()); };
        ASSERT_EQ(agree(dec_fast, dec_ref), src.size()) << "the first decoded byte that differs";
        ASSERT_EQ(agree(src_fast, src_ref), src.size()) << "the first source byte that differs";
    }
    bytes dec_fast(garbage.begin(), garbage.begin() + 512), dec_key = dec_fast;
    uint8_t kb_fast = 0x5C, kb_key = 0x5C;
    uint32_t kw_fast = 0xDEADBEEF, kw_key = 0xDEADBEEF;
    ASSERT_EQ(xordetect_find_key(src.data(), dec_fast.data(), &kb_fast, &kw_fast), xoracle::find_key(src.data(), dec_key.data(), &kb_key, &kw_key));
    ASSERT_TRUE(kb_fast == kb_key && kw_fast == kw_key && dec_fast == dec_key) << "find_key";
}

void mutate(bytes &b, unsigned count, std::mt19937 &rng) {
    for (unsigned c = 0; c < count; c++) b[rng() % b.size()] = uint8_t(rng());
}

// Header fields at and next to the values the rules test. In each group of
// alternatives ("one typical field", "one field that matches the key") often
// only one stays typical, so that it decides alone; then one bounded field,
// and maybe a DOS stub field, takes a value at or next to its bound.
void perturb(bytes &b, size_t h, uint32_t lfanew, std::mt19937 &rng) {
    struct field {
        size_t at;
        int width;
        uint32_t values[4];  // the typical value first
    };
    auto put = [&](size_t at, const field &f, uint32_t v) { (f.width == 2 ? xsamples::put16 : xsamples::put32)(b, at + f.at, v); };
    const size_t s = h + lfanew;
    static const std::vector<field> groups[] = {
        {{0x48, 4, {4, 3, 5, 0}}, {0x3C, 4, {0x200, 0x400, 0x1F0, 0x1000}}, {0x68, 4, {0x10000, 0x10001, 0xFFFF, 0}},
         {0x74, 4, {16, 17, 15, 0}}, {0x6C, 4, {0x1000, 0x1001, 0xFFF, 0}}},
        {{0x0C, 4, {0, 1, 0xFFFFFFFF, 2}}, {0x10, 4, {0, 1, 3, 7}}, {0x14, 2, {0xE0, 0xE1, 0xDF, 0}},
         {0x16, 2, {0x10F, 0x110, 0x10E, 0}}}};
    for (const std::vector<field> &group : groups) {
        const size_t keep = rng() % 2 ? rng() % group.size() : group.size();  // size: each at random
        for (size_t j = 0; j < group.size(); j++)
            if (j != keep && (keep < group.size() || rng() % 2)) put(s, group[j], group[j].values[1 + rng() % 3]);
    }
    static const field bounded[] = {{0x18, 2, {0x10B, 0x10C, 0x10A, 0x20B}}, {0x5C, 2, {2, 1, 3, 4}},
                                    {0x3C, 4, {0x200, 0x10, 0xF, 0x1010}},  {0x04, 2, {0x14C, 0x14D, 0x14B, 0}},
                                    {0x5C, 2, {2, 0, 3, 1}}};
    const field &f = bounded[rng() % 5];
    put(s, f, f.values[rng() % 4]);
    static const field stub[] = {{0x08, 2, {4, 5, 3, 0}}, {0x0C, 4, {0xFFFF, 0x1FFFF, 0xFFFE, 0}},
                                 {0x18, 2, {0x40, 0x41, 0x3F, 0}}};
    const field &g = stub[rng() % 3];
    if (rng() % 4 == 0) put(h, g, g.values[rng() % 4]);
}

enum scheme { plain, xor1, xor4, xor4_no_mz, xor4_no_runs, xor16, add1, add4, widened, scheme_count };
const char *const scheme_names[] = {"plain", "xor1", "xor4", "xor4-no-mz", "xor4-no-runs", "xor16", "add1", "add4", "widened"};

// An encoded executable of the given scheme at a random place.
bytes encoded(scheme s, size_t size, bool noisy, std::mt19937 &rng) {
    bytes b = noisy ? xsamples::random_bytes(size, rng) : bytes(size, 0);
    size_t h = size > 512 ? rng() % (size - 511) : 0;
    if (s == xor4 || s == xor4_no_mz || s == xor4_no_runs) h &= ~size_t(3);  // sixteen-byte keys find headers at any offset
    const uint32_t lfanew = 0x80 + 8 * (rng() % 16);
    if (h + lfanew + 0x80 > size) h = 0;
    // The fields the header needs, and eight zero bytes before the signature;
    // no zeros around the header: no run of the key word, so each of the
    // four-byte key's field tests decides.
    if (s != xor4_no_runs) memset(&b[h], 0, lfanew + 0x78);
    xsamples::write_header(b, h, lfanew);
    if (s == xor4_no_runs || rng() % 2) perturb(b, h, lfanew, rng);
    const uint8_t k = uint8_t(rng() % 255 + 1);
    const uint32_t word = rng() | 0x01010101u;
    uint8_t key[16];  // xor16: three zero blocks somewhere turn into the key itself
    for (auto &c : key) c = uint8_t(rng());
    key[0] |= 1;
    switch (s) {
    case xor1: xsamples::xor_bytes(b, k); break;
    case xor4: case xor4_no_runs: xsamples::xor_words(b, word); break;
    case xor4_no_mz: xsamples::xor_words(b, word), b[h] = uint8_t(rng()), b[h + 1] = uint8_t(rng()); break;
    case xor16: memset(&b[(rng() % ((size - 48) / 16)) * 16], 0, 48), xsamples::xor_block(b, key); break;
    case add1: xsamples::add_bytes(b, k); break;
    case add4: xsamples::add_words(b, word); break;
    case widened: xsamples::widen_signature(b, rng() % (size - 16)); break;
    default: break;
    }
    return b;
}

size_t small_size(std::mt19937 &rng) { return 512 + rng() % 3585; }

TEST(XorDetectDifferential, EverySchemeAndItsMutations) {
    std::mt19937 rng(2);
    for (int s = 0; s < scheme_count; s++) {
        for (int round = 0; round < 30; round++) {
            const bool noisy = round % 2;
            bytes b = encoded(scheme(s), round % 3 ? small_size(rng) : 512, noisy, rng);  // 512: headers at 0 for find_key
            const std::string name = std::string(scheme_names[s]) + (noisy ? " in noise" : " in zeros");
            expect_same_scan(b, rng, name);
            for (unsigned flips : {1u, 3u, 20u}) {
                bytes m = b;
                mutate(m, flips, rng);
                expect_same_scan(m, rng, name + " mutated");
            }
        }
        expect_same_scan(encoded(scheme(s), 64 * 1024 + 5, true, rng), rng, scheme_names[s]);
    }
    expect_same_scan(encoded(xor1, 256 * 1024, true, rng), rng, "xor1 large");
}

// Buffers without a planted header, from each generator at sizes around the
// bounds and at random, each also mutated.
TEST(XorDetectDifferential, Generated) {
    std::mt19937 rng(1);
    auto run_of = [](int value) { return [value](size_t n) { return bytes(n, uint8_t(value)); }; };
    const std::pair<const char *, std::function<bytes(size_t)>> rows[] = {
        {"noise", [&](size_t n) { return xsamples::random_bytes(n, rng); }},
        {"run of 00", run_of(0)}, {"run of FF", run_of(0xFF)}, {"run of CC", run_of(0xCC)}, {"run of 4D", run_of(0x4D)},
        {"repeated block", [&](size_t n) { return xsamples::repeated_block(n, rng); }},
        {"distinct keys", [&](size_t n) { return xsamples::distinct_block_keys(n, rng); }},
        {"dense xor", xsamples::dense_xor_candidates}, {"dense add", xsamples::dense_add_candidates}};
    for (const auto &[name, make] : rows) {
        for (size_t size : {size_t(512), size_t(513), size_t(515), size_t(516), size_t(4099), size_t(8192), small_size(rng),
                            small_size(rng), small_size(rng)}) {
            bytes b = make(size);
            expect_same_scan(b, rng, name);
            mutate(b, 1 + rng() % 8, rng);
            expect_same_scan(b, rng, std::string(name) + " mutated");
        }
    }
    for (int round = 0; round < 150; round++) expect_same_scan(xsamples::random_bytes(small_size(rng), rng), rng, "noise");
    for (const bytes &b : {xsamples::random_bytes(256 * 1024, rng), bytes(256 * 1024, 0), xsamples::repeated_block(16384, rng)})
        expect_same_scan(b, rng, "large");
}

// Sixteen-byte keys: a header behind many keys, found by the k-th key only;
// keys that agree in bytes 0 and 1 and offsets that all decode to 'M' 'Z'
// under them, and one of the later keys decoding a whole header.
TEST(XorDetectDifferential, SixteenByteKeyPaths) {
    std::mt19937 rng(4);
    for (int round = 0; round < 11; round++) {  // the last in a buffer whose keys take several partitions
        const size_t size = round < 10 ? 4096 : 65536;
        bytes b = xsamples::distinct_block_keys(size, rng);
        uint8_t key[16];
        memcpy(key, &b[48 * (rng() % 30 + (round < 10 ? 0 : 1000))], 16);
        const size_t h = 16 * (100 + rng() % 100);
        bytes img = xsamples::plain_image(size, h);
        for (size_t j = h; j < h + 0x80 + 0x78; j++) b[j] = img[j] ^ key[j % 16];
        expect_same_scan(b, rng, "header behind distinct keys");
    }
    for (int round = 0; round < 4; round++) {
        bytes b(4096, 0);
        uint8_t key[16];
        for (size_t i = 0; i + 48 <= 2048; i += 48) {
            for (auto &c : key) c = uint8_t(rng() | 1);
            key[0] = key[1] = 0x80;
            for (int r = 0; r < 3; r++) memcpy(&b[i + 16 * r], key, 16);
        }
        for (size_t m = 2048; m + 16 <= 4096; m += 16) b[m] = 'M' ^ 0x80, b[m + 1] = 'Z' ^ 0x80;
        if (round % 2) {
            memcpy(key, &b[48 * (10 + rng() % 20)], 16);
            bytes img = xsamples::plain_image(4096, 2048 + 16 * (rng() % 64));
            for (size_t j = 2048; j < 4096; j++) b[j] = img[j] ^ key[j % 16];
        }
        expect_same_scan(b, rng, "keys sharing the MZ bytes");
    }
}

// The rarer paths: the repair at size - 511, the repair through the raw
// e_lfanew, the repeated-word rule hidden by a decoy run or only at the last
// place it looks, a one-byte decode overtaken by a whole-buffer one.
TEST(XorDetectDifferential, ConstructedPaths) {
    std::mt19937 rng(7);
    const uint32_t key = 0x9C2B5E13;
    for (size_t size : {1024, 1025, 1030}) {
        bytes b(size, 0);
        const size_t h = size - 511;
        xsamples::write_header(b, h, uint32_t(616 - h));
        b[h] = b[h + 1] = 0;
        xsamples::xor_words(b, key);
        expect_same_scan(b, rng, "repair at size - 511");
    }
    bytes raw(2048, 0);
    xsamples::write_header(raw, 0, 0x100);
    xsamples::put16(raw, 8, 0);  // no DOS header the repair can see
    xsamples::xor_words(raw, key);
    xsamples::put32(raw, 0x3C, 0x100);  // but e_lfanew stands unencoded
    raw[0] = raw[1] = 0;
    expect_same_scan(raw, rng, "repair through raw e_lfanew");
    bytes two(2048, 0);  // two DOS headers point at the signature: the first is repaired
    xsamples::write_header(two, 0x100, 0x100);
    two[0x100] = two[0x101] = 0;
    xsamples::put16(two, 0x48, 4), xsamples::put32(two, 0x4C, 0xFFFF), xsamples::put16(two, 0x58, 0x40), xsamples::put32(two, 0x7C, 0x1C0);
    xsamples::xor_words(two, key);
    expect_same_scan(two, rng, "two DOS headers");
    // The Characteristics test alone: its word reaches into the magic, so only
    // a key whose halves differ by 0x10B meets it, with Characteristics 4.
    bytes ch = xsamples::random_bytes(1024, rng);
    xsamples::write_header(ch, 0x40);
    xsamples::put32(ch, 0xCC, 1), xsamples::put32(ch, 0xD0, 1), xsamples::put16(ch, 0xD4, 0xF0), xsamples::put16(ch, 0xD6, 4);
    xsamples::xor_words(ch, 0x12340000 | (0x1234 ^ 0x10B));
    expect_same_scan(ch, rng, "Characteristics alone");
    // Four-byte XOR and addition keys whose signature lies among the last
    // offsets the phase visits, which the scan takes one at a time.
    for (auto encode : {xsamples::xor_words, xsamples::add_words}) {
        bytes b = xsamples::random_bytes(1055, rng);
        xsamples::write_header(b, 780);  // the signature at 908
        xsamples::put32(b, 900, 0), xsamples::put32(b, 904, 0);
        encode(b, key);
        expect_same_scan(b, rng, "signature at the end");
    }
    // Two sixteen-byte keys that each decode a header, in a buffer too small
    // for the key tables: the first key wins.
    bytes keys = xsamples::random_bytes(600, rng);
    for (int pass = 0; pass < 3; pass++) {  // the third key decodes no header
        uint8_t k16[16];
        for (auto &c : k16) c = uint8_t(rng() | 1);
        const size_t h = pass == 1 ? 0x40 : 0, s = h + 0x100 + h, at = pass == 2 ? 0xC0 : pass ? 0x200 : 0x80;
        bytes img(600, 0);
        xsamples::write_header(img, h, uint32_t(s - h));
        for (size_t j = 0; j < 600; j++)
            if ((pass < 2 && ((j >= h && j < h + 0x40) || (j >= s && j < s + 0x78))) || (j >= at && j < at + 48)) keys[j] = img[j] ^ k16[j % 16];
    }
    expect_same_scan(keys, rng, "two sixteen-byte keys in a small buffer");
    // fields that fail the candidate tests; a decoy run first, or the only
    // run of the key word at the last place the rule looks
    for (bool decoy : {true, false}) {
        bytes b = decoy ? bytes(1024, 0) : xsamples::random_bytes(1024, rng);
        xsamples::write_header(b, 0x40);
        xsamples::put16(b, 0x40 + 0x80 + 0x5C, 0);
        if (!decoy) memset(&b[1024 - 20], 0, 16);
        xsamples::xor_words(b, key);
        if (decoy) memset(&b[0], 0x11, 16);
        expect_same_scan(b, rng, decoy ? "decoy run" : "rule at the last place");
    }
    // one-byte candidates whose header fails (key 0x33), then a four-byte key
    // (of the first decode only the bytes past the whole decode's end last)
    // or a one-byte-XOR header
    for (int word : {1, 0}) {
        bytes b = xsamples::plain_image(1024, 0x100);
        word ? xsamples::xor_words(b, key) : xsamples::xor_bytes(b, 0x5A);
        b[8] = 'M' ^ 0x33, b[9] = 'Z' ^ 0x33, b[8 + 0x3E] = b[8 + 0x3F] = 0x33;
        expect_same_scan(b, rng, word ? "pending one-byte decode" : "one-byte header after a failed candidate");
    }
}

}  // namespace
