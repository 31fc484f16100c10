// The scanner against the step-by-step reference model: every output (result,
// key byte, key word, the whole decoded buffer, the whole source buffer) must
// agree, on noise, on every scheme's encodings and their mutations, on long
// runs of one byte and on repeated and distinct sixteen-byte blocks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "module/slots.h"
#include "xordetect/xordetect_oracle.h"
#include "xordetect/xordetect_samples.h"

namespace {

using xsamples::bytes;

// Runs both scanners on copies of src with the same decoded-buffer garbage.
void expect_same_scan(const bytes &src, std::mt19937 &rng, const std::string &what) {
    SCOPED_TRACE(what + " size " + std::to_string(src.size()));
    bytes garbage = xsamples::random_bytes(src.size(), rng);
    bytes src_fast = src, src_ref = src, dec_fast = garbage, dec_ref = garbage;
    uint8_t kb_fast = 0x5C, kb_ref = 0x5C;
    uint32_t kw_fast = 0xDEADBEEF, kw_ref = 0xDEADBEEF;
    const uint32_t n = uint32_t(src.size());
    const int32_t r_fast = xordetect_scan_buffer(src_fast.data(), dec_fast.data(), &kb_fast, &kw_fast, n);
    const int32_t r_ref = xoracle::scan_buffer(src_ref.data(), dec_ref.data(), &kb_ref, &kw_ref, n);
    ASSERT_EQ(r_fast, r_ref);
    ASSERT_EQ(kb_fast, kb_ref);
    ASSERT_EQ(kw_fast, kw_ref);
    for (size_t j = 0; j < src.size(); j++) {
        ASSERT_EQ(dec_fast[j], dec_ref[j]) << "decoded byte " << j;
        ASSERT_EQ(src_fast[j], src_ref[j]) << "source byte " << j;
    }
}

void expect_same_key(const bytes &block, std::mt19937 &rng, const std::string &what) {
    SCOPED_TRACE(what);
    bytes garbage = xsamples::random_bytes(512, rng);
    bytes dec_fast = garbage, dec_ref = garbage;
    uint8_t kb_fast = 0x5C, kb_ref = 0x5C;
    uint32_t kw_fast = 0xDEADBEEF, kw_ref = 0xDEADBEEF;
    ASSERT_EQ(xordetect_find_key(block.data(), dec_fast.data(), &kb_fast, &kw_fast),
              xoracle::find_key(block.data(), dec_ref.data(), &kb_ref, &kw_ref));
    ASSERT_EQ(kb_fast, kb_ref);
    ASSERT_EQ(kw_fast, kw_ref);
    ASSERT_EQ(dec_fast, dec_ref);
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
    auto put = [&](size_t at, const field &f, uint32_t v) {
        if (f.width == 2) xsamples::put16(b, at + f.at, v);
        else xsamples::put32(b, at + f.at, v);
    };
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

enum scheme { plain, xor1, xor4, xor4_no_mz, xor16, add1, add4, widened, scheme_count };
const char *const scheme_names[] = {"plain", "xor1", "xor4", "xor4-no-mz", "xor16", "add1", "add4", "widened"};

// An encoded executable of the given scheme at a random place.
bytes encoded(scheme s, size_t size, bool noisy, std::mt19937 &rng) {
    bytes b = noisy ? xsamples::random_bytes(size, rng) : bytes(size, 0);
    const size_t room = size - 512;
    size_t h = room ? rng() % (room + 1) : 0;
    if (s == xor4 || s == xor4_no_mz) h &= ~size_t(3);  // sixteen-byte keys find headers at any offset
    const uint32_t lfanew = 0x80 + 8 * (rng() % 16);
    if (h + lfanew + 0x80 > size) h = 0;
    // The fields the header needs, and eight zero bytes before the signature.
    memset(&b[h], 0, lfanew + 0x78);
    xsamples::write_header(b, h, lfanew);
    if (rng() % 2) perturb(b, h, lfanew, rng);
    const uint8_t k = uint8_t(rng() % 255 + 1);
    const uint32_t word = rng() | 0x01010101u;
    switch (s) {
    case plain:
        break;
    case xor1:
        xsamples::xor_bytes(b, k);
        break;
    case xor4:
        xsamples::xor_words(b, word);
        break;
    case xor4_no_mz:
        xsamples::xor_words(b, word);
        b[h] = uint8_t(rng());
        b[h + 1] = uint8_t(rng());
        break;
    case xor16: {
        // three zero blocks somewhere turn into the key itself
        size_t z = (rng() % ((size - 48) / 16)) * 16;
        memset(&b[z], 0, 48);
        uint8_t key[16];
        for (auto &c : key) c = uint8_t(rng());
        key[0] |= 1;
        xsamples::xor_block(b, key);
        break;
    }
    case add1:
        xsamples::add_bytes(b, k);
        break;
    case add4:
        xsamples::add_words(b, word);
        break;
    case widened:
        xsamples::widen_signature(b, rng() % (size - 16));
        break;
    default:
        break;
    }
    return b;
}

void mutate(bytes &b, unsigned count, std::mt19937 &rng) {
    for (unsigned c = 0; c < count; c++) b[rng() % b.size()] = uint8_t(rng());
}

size_t small_size(std::mt19937 &rng) { return 512 + rng() % 3585; }

TEST(XorDetectDifferential, NoiseOfManySizes) {
    std::mt19937 rng(1);
    for (int round = 0; round < 200; round++) expect_same_scan(xsamples::random_bytes(small_size(rng), rng), rng, "noise");
    for (size_t size : {511 + 1, 513, 514, 515, 516, 517, 65536 + 3})
        expect_same_scan(xsamples::random_bytes(size, rng), rng, "noise");
    expect_same_scan(xsamples::random_bytes(256 * 1024, rng), rng, "noise");
}

TEST(XorDetectDifferential, EverySchemeAndItsMutations) {
    std::mt19937 rng(2);
    for (int s = 0; s < scheme_count; s++) {
        for (int round = 0; round < 30; round++) {
            const bool noisy = round % 2;
            bytes b = encoded(scheme(s), small_size(rng), noisy, rng);
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

TEST(XorDetectDifferential, LongRunsOfOneByte) {
    std::mt19937 rng(3);
    for (int value : {0x00, 0xFF, 0xCC, 0x4D, 0x01}) {
        for (size_t size : {512, 777, 4096, 8192 + 7}) {
            bytes b(size, uint8_t(value));
            expect_same_scan(b, rng, "run of " + std::to_string(value));
            // a header somewhere in the run, under the run's byte as key
            if (size >= 1024) {
                bytes h = xsamples::plain_image(size, 100 + rng() % 200);
                xsamples::xor_bytes(h, uint8_t(value));
                expect_same_scan(h, rng, "run with header");
            }
        }
    }
    expect_same_scan(bytes(256 * 1024, 0), rng, "zeros large");
}

TEST(XorDetectDifferential, SixteenByteBlocks) {
    std::mt19937 rng(4);
    for (int round = 0; round < 20; round++) {
        expect_same_scan(xsamples::repeated_block(512 + rng() % 4000, rng), rng, "repeated block");
        expect_same_scan(xsamples::distinct_block_keys(512 + rng() % 4000, rng), rng, "distinct keys");
        bytes m = xsamples::distinct_block_keys(2048, rng);
        mutate(m, 5, rng);
        expect_same_scan(m, rng, "distinct keys mutated");
    }
    // a header behind many keys, found by the k-th key only
    for (int round = 0; round < 10; round++) {
        bytes b = xsamples::distinct_block_keys(4096, rng);
        uint8_t key[16];
        memcpy(key, &b[48 * (rng() % 30)], 16);
        const size_t h = 16 * (100 + rng() % 100);
        bytes img = xsamples::plain_image(4096, h);
        for (size_t j = h; j < h + 0x80 + 0x78; j++) b[j] = img[j] ^ key[j % 16];
        expect_same_scan(b, rng, "header behind distinct keys");
    }
    expect_same_scan(xsamples::repeated_block(16384, rng), rng, "repeated block 16K");
    // keys that agree in bytes 0 and 1 and offsets that all decode to 'M' 'Z'
    // under them; one of the later keys decodes a whole header
    for (int round = 0; round < 4; round++) {
        bytes b(4096, 0);
        uint8_t key[16];
        for (size_t i = 0; i + 48 <= 2048; i += 48) {
            for (auto &c : key) c = uint8_t(rng() | 1);
            key[0] = key[1] = 0x80;
            for (int r = 0; r < 3; r++) memcpy(&b[i + 16 * r], key, 16);
        }
        for (size_t m = 2048; m + 16 <= 4096; m += 16) {
            b[m] = 'M' ^ 0x80;
            b[m + 1] = 'Z' ^ 0x80;
        }
        if (round % 2) {
            memcpy(key, &b[48 * (10 + rng() % 20)], 16);
            bytes img = xsamples::plain_image(4096, 2048 + 16 * (rng() % 64));
            for (size_t j = 2048; j < 4096; j++) b[j] = img[j] ^ key[j % 16];
        }
        expect_same_scan(b, rng, "keys sharing the MZ bytes");
    }
}

TEST(XorDetectDifferential, DenseCandidates) {
    std::mt19937 rng(5);
    for (size_t size : {512, 1000, 4099, 8192}) {
        expect_same_scan(xsamples::dense_xor_candidates(size), rng, "dense xor");
        expect_same_scan(xsamples::dense_add_candidates(size), rng, "dense add");
        bytes m = xsamples::dense_xor_candidates(size);
        mutate(m, 8, rng);
        expect_same_scan(m, rng, "dense xor mutated");
    }
}

// The rarer paths: the repair at size - 511, the repair through the raw
// e_lfanew, the repeated-word rule hidden by a decoy run, a one-byte decode
// overtaken by a whole-buffer one.
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
    bytes decoy = xsamples::plain_image(1024, 0x40);
    xsamples::put16(decoy, 0x40 + 0x80 + 0x5C, 0);
    xsamples::xor_words(decoy, key);
    memset(&decoy[0], 0x11, 16);
    expect_same_scan(decoy, rng, "decoy run");
    // a one-byte candidate whose header fails, then a four-byte key: of the
    // first decode only the bytes past the whole decode's end last
    bytes pending(1024, 0);
    xsamples::write_header(pending, 0x100);
    xsamples::xor_words(pending, key);
    pending[8] = 'M' ^ 0x33, pending[9] = 'Z' ^ 0x33, pending[8 + 0x3E] = pending[8 + 0x3F] = 0x33;
    expect_same_scan(pending, rng, "pending one-byte decode");
    // a one-byte candidate whose header fails, before a one-byte-XOR header
    bytes second = xsamples::plain_image(1024, 0x100);
    xsamples::xor_bytes(second, 0x5A);
    second[8] = 'M' ^ 0x33, second[9] = 'Z' ^ 0x33, second[8 + 0x3E] = second[8 + 0x3F] = 0x33;
    expect_same_scan(second, rng, "one-byte header after a failed candidate");
    // a header only the repeated-word rule finds (its fields fail the
    // candidate tests), the only run of the key word at the last place the
    // rule looks
    bytes last = xsamples::random_bytes(1024, rng);
    xsamples::write_header(last, 0x40);
    xsamples::put16(last, 0x40 + 0x80 + 0x5C, 0);
    memset(&last[1024 - 20], 0, 16);
    xsamples::xor_words(last, key);
    expect_same_scan(last, rng, "rule at the last place");
}

TEST(XorDetectDifferential, FindKeyOnBlocks) {
    std::mt19937 rng(6);
    for (int round = 0; round < 300; round++) {
        const scheme s = scheme(round % scheme_count);
        bytes b = encoded(s, 512, round % 3 == 0, rng);
        if (round % 2) mutate(b, 1 + rng() % 4, rng);
        expect_same_key(b, rng, scheme_names[s]);
    }
    for (int value : {0x00, 0xCC, 0xFF}) expect_same_key(bytes(512, uint8_t(value)), rng, "run");
    expect_same_key(xsamples::repeated_block(512, rng), rng, "repeated block");
}

}  // namespace
