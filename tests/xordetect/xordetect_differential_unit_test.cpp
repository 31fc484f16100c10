// The scanner against the step-by-step reference model: every output (result, key byte, key word, the whole decoded
// buffer, the whole source buffer) must agree, on noise, on every scheme's encodings and their mutations, on long runs
// of one byte, on repeated and distinct sixteen-byte blocks and on paths built to be rare.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <functional>
#include <string>
#include <vector>

#include "module/slots.h"
#include "xordetect/scan_buffer.h"
#include "xordetect/xordetect_oracle.h"
#include "xordetect/xordetect_samples.h"

namespace {

using xsamples::bytes;

// The model and the scanner with each kernel set this processor runs on copies of src with the same decoded-buffer
// garbage; both key finders too (they read and write the first 512 bytes only).
void expect_same_scan(const bytes &src, std::mt19937 &rng, const std::string &what) {
    SCOPED_TRACE(what + " size " + std::to_string(src.size()));
    const bytes garbage = xsamples::random_bytes(src.size(), rng);
    bytes src_ref = src, dec_ref = garbage;
    uint8_t kb_ref = 0x5C, kb = 0x5C;
    uint32_t kw_ref = 0xDEADBEEF, kw = 0xDEADBEEF;
    const uint32_t n = uint32_t(src.size());
    const int32_t r_ref = xoracle::scan_buffer(src_ref.data(), dec_ref.data(), &kb_ref, &kw_ref, n);
    for (const kq::xordetect::lane_kernels *const *lanes = kq::xordetect::all_lane_kernels; *lanes; lanes++) {
        if (!(*lanes)->available()) continue;
        SCOPED_TRACE((*lanes)->name);
        bytes src_fast = src, dec_fast = garbage;
        kb = 0x5C, kw = 0xDEADBEEF;
        ASSERT_EQ(kq::xordetect::scan_buffer(**lanes, src_fast.data(), dec_fast.data(), &kb, &kw, n), r_ref);
        ASSERT_TRUE(kb == kb_ref && kw == kw_ref) << int(kb) << " " << kw << " model " << int(kb_ref) << " " << kw_ref;
        ASSERT_TRUE(dec_fast == dec_ref && src_fast == src_ref) << "decoded or source buffer";
    }
    bytes dec = garbage, dec_model = dec;
    kb = kb_ref = 0x5C, kw = kw_ref = 0xDEADBEEF;
    ASSERT_EQ(xordetect_find_key(src.data(), dec.data(), &kb, &kw), xoracle::find_key(src.data(), dec_model.data(), &kb_ref, &kw_ref));
    ASSERT_TRUE(kb == kb_ref && kw == kw_ref && dec == dec_model) << "find_key";
}


// Header fields at and next to the values the rules test. In each group of alternatives ("one typical field", "one
// field that matches the key") often only one stays typical, so that it decides alone; then one bounded field, and
// maybe a DOS stub field, takes a value at or next to its bound.
void perturb(bytes &b, size_t h, uint32_t lfanew, std::mt19937 &rng) {
    struct field { size_t at; int width; uint32_t values[4]; };  // the typical value first
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
    // The fields the header needs, and eight zero bytes before the signature; no zeros around the header: no run of the
    // key word, so each of the four-byte key's field tests decides.
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

// Each scheme's encodings in zeros and in noise, and buffers from each generator (no header planted), at sizes around
// the bounds and at random (512: headers at 0 for find_key), each also mutated.
TEST(XorDetectDifferential, GeneratedAndMutated) {
    std::mt19937 rng(1);
    auto run_of = [](int value) { return [value](size_t n) { return bytes(n, uint8_t(value)); }; };
    std::vector<std::pair<std::string, std::function<bytes(size_t)>>> rows = {
        {"noise", [&](size_t n) { return xsamples::random_bytes(n, rng); }},
        {"run of 00", run_of(0)}, {"run of FF", run_of(0xFF)}, {"run of CC", run_of(0xCC)}, {"run of 4D", run_of(0x4D)},
        {"repeated block", [&](size_t n) { return xsamples::repeated_block(n, rng); }}, {"distinct keys", [&](size_t n) { return xsamples::distinct_block_keys(n, rng); }},
        {"dense xor", xsamples::dense_xor_candidates}, {"dense add", xsamples::dense_add_candidates}};
    for (int s = 0; s < scheme_count; s++)
        for (bool noisy : {false, true})
            rows.push_back({std::string(scheme_names[s]) + (noisy ? " in noise" : " in zeros"), [&, s, noisy](size_t n) { return encoded(scheme(s), n, noisy, rng); }});
    for (const auto &[name, make] : rows)
        for (size_t size : {size_t(512), size_t(512), size_t(513), size_t(515), size_t(516), size_t(4099), size_t(8192), small_size(rng),
                            small_size(rng), small_size(rng), small_size(rng), small_size(rng)}) {
            const bytes b = make(size);
            for (unsigned flips : {0u, 1u, 3u, 20u}) {
                bytes m = b;
                for (unsigned c = 0; c < flips; c++) m[rng() % m.size()] = uint8_t(rng());
                expect_same_scan(m, rng, name + (flips ? " mutated" : ""));
            }
        }
    for (int round = 0; round < 150; round++) expect_same_scan(xsamples::random_bytes(small_size(rng), rng), rng, "noise");
    for (int s = 0; s < scheme_count; s++) expect_same_scan(encoded(scheme(s), 64 * 1024 + 5, true, rng), rng, std::string(scheme_names[s]) + " large");
    for (const bytes &b : {xsamples::random_bytes(256 * 1024, rng), bytes(256 * 1024, 0), xsamples::repeated_block(16384, rng), encoded(xor1, 256 * 1024, true, rng)})
        expect_same_scan(b, rng, "large");
}

// Sixteen-byte keys in `copies` runs of three blocks each (first runs in key order, the others shuffled after them),
// the first `shared` with one print (solved in the last word); with same_mz all start 80 80 and every later block
// decodes to 'M' 'Z' and a high e_lfanew byte 0. Then each mark under its key: a header ('H'; 'E' at size - 512; 'F' at
// 0, e_lfanew size - 128), 'M' 'Z' alone ('M') or the key's three blocks at size - 48 ('L'). With zeros_pass the first
// two keys turn a zero pair at any offset into 'M' 'Z': every offset meets the join, many times what its list holds.
struct key_layout { const char *name; size_t size; unsigned keys, shared, copies; bool same_mz; std::vector<std::pair<char, unsigned>> marks; bool zeros_pass = false; };

bytes laid_out(const key_layout &row, std::mt19937 &rng) {
    static_assert(0x85EBCA77u * 0xB6C92F47u == 1, "the last word's multiplier and its inverse");
    std::vector<bytes> keys(row.keys);
    for (unsigned j = 0; j < row.keys; j++) {
        bytes &k = keys[j] = xsamples::random_bytes(16, rng, 1);
        if (row.same_mz) k[0] = k[1] = k[15] = 0x80;
        uint32_t h = xsamples::get32(k, 0) * 0x9E3779B1u;
        for (size_t o = 4; o < 12; o += 4) h = std::rotl(h, 13) ^ xsamples::get32(k, o) * 0x85EBCA77u;
        if (j < row.shared) xsamples::put32(k, 12, (0x2545F491u ^ std::rotl(h, 13)) * 0xB6C92F47u);
        for (size_t t = 0; row.zeros_pass && j < 2 && t < 16; t++) k[t] = (t + j) % 2 ? 'Z' : 'M';
    }
    std::vector<unsigned> runs(row.keys * row.copies);
    for (size_t j = 0; j < runs.size(); j++) runs[j] = unsigned(j % row.keys);
    std::shuffle(runs.begin() + row.keys, runs.end(), rng);
    bytes b(row.size, 0), img(row.size, 0);
    size_t at = 64;  // room for a header at 0
    for (unsigned j : runs)
        for (size_t t = 0; t < 64; t++) b[at++] = t < 48 ? keys[j][t % 16] : 0;  // a zero block ends the run
    for (size_t m = at; row.same_mz && m < row.size; m += 16) b[m] = 'M' ^ 0x80, b[m + 1] = 'Z' ^ 0x80, b[m + 15] = 0x80;
    for (auto [kind, j] : row.marks) {
        const bool header = kind != 'M' && kind != 'L';
        const size_t h = kind == 'F' ? 0 : kind == 'E' ? row.size - 512 : kind == 'L' ? row.size - 48 : at + rng() % 32;
        const size_t e = kind == 'F' ? row.size - 128 : 0x80;
        if (header) xsamples::write_header(img, h, uint32_t(e));
        auto encode = [&, j = j](size_t from, size_t to) { for (size_t t = from; t < to; t++) b[t] = img[t] ^ keys[j][t % 16]; };
        encode(h, h + (kind == 'M' ? 2 : kind == 'L' ? 48 : 0x40));  // img is 0 where a last key goes
        if (header) encode(h + e, h + e + 0x78);
        at += kind == 'M' ? 48 : 288;
    }
    return b;
}

// Few keys (one pass) and many (joined residue by residue), keys of one print (sorted exactly),
// repeated runs, headers under later keys found first, e_lfanew's top byte past 16 MiB.
TEST(XorDetectDifferential, SixteenByteKeyLayouts) {
    std::mt19937 rng(4);
    const key_layout rows[] = {
        // name, size, keys, of one print, runs per key, same 'M' 'Z' bytes, marks
        {"2 keys, the header under the second", 1024, 2, 0, 1, false, {{'M', 0}, {'H', 1}, {'M', 0}}},
        {"5 keys, the header under the fourth", 2048, 5, 0, 2, false, {{'M', 4}, {'M', 0}, {'H', 3}, {'M', 1}}},
        {"6 keys, the header under the third", 2048, 6, 0, 2, false, {{'M', 5}, {'M', 0}, {'H', 2}}},
        {"5 keys, headers under the last then the second", 2048, 5, 0, 3, false, {{'H', 4}, {'M', 0}, {'H', 1}}},
        {"9 keys, the header under the first", 2048, 9, 0, 2, false, {{'M', 8}, {'M', 3}, {'H', 0}}},
        {"32 keys, the header at the last place", 4096, 32, 0, 1, false, {{'M', 0}, {'M', 17}, {'E', 31}}},
        {"9 keys of one print", 4096, 9, 9, 3, false, {{'M', 0}, {'H', 7}, {'M', 3}}},
        {"40 keys, 12 of one print", 8192, 40, 12, 2, false, {{'H', 30}, {'H', 11}, {'M', 0}, {'H', 5}}},
        {"60 keys, 20 of one print", 16384, 60, 20, 3, false, {{'H', 55}, {'H', 19}, {'M', 1}, {'E', 3}}},
        {"42 keys sharing the 'M' 'Z' bytes", 4096, 42, 0, 1, true, {{'H', 25}}},
        {"42 keys sharing the 'M' 'Z' bytes, no header, one last", 4096, 42, 0, 1, true, {{'L', 5}}},
        {"600 keys", 40000, 600, 0, 1, false, {{'H', 500}, {'M', 3}}},
        {"40 keys, zero pairs meet two", 65536, 40, 0, 1, false, {{'H', 3}, {'M', 2}, {'E', 5}}, true},
        {"16 MiB + 128", (size_t(1) << 24) + 128, 40, 0, 1, false, {{'M', 0}, {'H', 2}, {'F', 1}}}};
    for (const key_layout &row : rows)
        for (int round = 0; round < (row.size > 65536 ? 1 : 3); round++) expect_same_scan(laid_out(row, rng), rng, row.name);
}

// The rarer paths: the repair at size - 511, the repair through the raw e_lfanew, the repeated-word rule hidden by a
// decoy run or only at the last place it looks, a one-byte decode overtaken by a whole-buffer one.
TEST(XorDetectDifferential, ConstructedPaths) {
    std::mt19937 rng(7);
    const uint32_t key = 0x9C2B5E13;
    for (size_t size : {1024, 1025, 1030}) {
        bytes b(size, 0);
        xsamples::write_header(b, size - 511, uint32_t(616 - (size - 511))), b[size - 511] = b[size - 510] = 0;
        xsamples::xor_words(b, key), expect_same_scan(b, rng, "repair at size - 511");
    }
    bytes raw(2048, 0);
    xsamples::write_header(raw, 0, 0x100), xsamples::put16(raw, 8, 0);  // no DOS header the repair can see
    xsamples::xor_words(raw, key);
    xsamples::put32(raw, 0x3C, 0x100), raw[0] = raw[1] = 0;  // but e_lfanew stands unencoded
    expect_same_scan(raw, rng, "repair through raw e_lfanew");
    bytes two(2048, 0);  // two DOS headers point at the signature: the first is repaired
    xsamples::write_header(two, 0x100, 0x100), two[0x100] = two[0x101] = 0;
    xsamples::put16(two, 0x48, 4), xsamples::put32(two, 0x4C, 0xFFFF), xsamples::put16(two, 0x58, 0x40), xsamples::put32(two, 0x7C, 0x1C0);
    xsamples::xor_words(two, key), expect_same_scan(two, rng, "two DOS headers");
    // The Characteristics test alone: its word reaches into the magic, so only
    // a key whose halves differ by 0x10B meets it, with Characteristics 4.
    bytes ch = xsamples::random_bytes(1024, rng);
    xsamples::write_header(ch, 0x40), xsamples::put32(ch, 0xCC, 1), xsamples::put32(ch, 0xD0, 1), xsamples::put16(ch, 0xD4, 0xF0), xsamples::put16(ch, 0xD6, 4);
    xsamples::xor_words(ch, 0x12340000 | (0x1234 ^ 0x10B));  // and before it a zero word the four-byte filter lets through
    xsamples::put32(ch, 0x10, 0), ch[0x28] = 0x0B, ch[0x29] = 1, ch[0x6D] = 0, expect_same_scan(ch, rng, "Characteristics alone");
    bytes fa = xsamples::random_bytes(512, rng);  // for the key finder, the file alignment alone names the key
    xsamples::write_header(fa, 0, 0x80), xsamples::put32(fa, 0xC8, 5), xsamples::put32(fa, 0xE8, 0), xsamples::xor_words(fa, key);
    expect_same_scan(fa, rng, "file alignment alone");
    // Among the last offsets, taken one at a time: a four-byte XOR key's signature or only its Machine
    // key ('P' 'E' lost, the key's halves equal), a four-byte addition key with either magic, the widened signature.
    for (int c = 0; c < 5; c++) {
        bytes b = xsamples::random_bytes(1055, rng);
        if (c < 4) xsamples::write_header(b, c == 1 ? 782 : 780), xsamples::put32(b, 900, 0), xsamples::put32(b, 904, 0);
        if (c == 1) b[910] = b[911] = 0;  // the signature at 910, else 908
        if (c == 3) xsamples::put16(b, 908 + 0x18, 0x10C);
        c == 4 ? xsamples::widen_signature(b, 1030) : c < 2 ? xsamples::xor_words(b, c ? 0x5A3C5A3C : key) : xsamples::add_words(b, key);
        expect_same_scan(b, rng, "candidate at the end " + std::to_string(c));
    }
    // A four-byte addition key whose header only its subsystem version lets through (4; 5: none), or
    // with halves equal (6) only its Characteristics among the fields the key itself may match.
    for (uint32_t c : {4, 5, 6, 7}) {  // 7: the version decides, but the file alignment (0x2000) is too large
        bytes b = xsamples::random_bytes(1024, rng);
        xsamples::write_header(b, 0x40);  // the signature at 0xC0, the key twice before it
        xsamples::put32(b, 0xB8, 0), xsamples::put32(b, 0xBC, 0), xsamples::put32(b, 0xFC, c == 7 ? 0x2000 : 0x400), xsamples::put32(b, 0x108, c == 5 ? 5 : 4);
        xsamples::put32(b, 0x128, 0), xsamples::put32(b, 0x12C, 0);
        if (c == 6) xsamples::put32(b, 0xCC, 1), xsamples::put32(b, 0xD0, 1), xsamples::put16(b, 0xD4, 0xF0);
        xsamples::add_words(b, c == 6 ? 0x12341234 : key);
        expect_same_scan(b, rng, "addition key by its subsystem version or Characteristics");
    }
    // fields that fail the candidate tests; a decoy run first, or the only
    // run of the key word at the last place the rule looks
    for (bool decoy : {true, false}) {
        bytes b = decoy ? bytes(1024, 0) : xsamples::random_bytes(1024, rng);
        xsamples::write_header(b, 0x40), xsamples::put16(b, 0x40 + 0x80 + 0x5C, 0);
        if (!decoy) memset(&b[1024 - 20], 0, 16);
        xsamples::xor_words(b, key);
        if (decoy) memset(&b[0], 0x11, 16);
        expect_same_scan(b, rng, decoy ? "decoy run" : "rule at the last place");
    }
    // a signature candidate one byte into the repeated-word rule's run, after the rule found nothing
    bytes after(1024, 0);
    const uint32_t d = 0x9C2B5E13, k = std::rotr(d, 8) ^ 0x4550, k16 = k & 0xFFFF, s = 0x41;  // k: the word at s
    for (size_t t = 0; t < 16; t += 4) xsamples::put32(after, s - 1 + t, d);
    xsamples::put32(after, s + 0x14, 0xE0 ^ k), xsamples::put16(after, s + 0x18, 0x10B ^ k16), xsamples::put16(after, s + 0x5C, 2 ^ k16);
    xsamples::put32(after, s + 0x3C, 0x200 ^ k), expect_same_scan(after, rng, "candidate inside the rule's run");
    // one-byte candidates whose header fails (key 0x33), then a four-byte key (of the first decode only the bytes past
    // the whole decode's end last) or a one-byte-XOR header
    for (int word : {1, 0}) {
        bytes b = xsamples::plain_image(1024, 0x100);
        word ? xsamples::xor_words(b, key) : xsamples::xor_bytes(b, 0x5A);
        b[8] = 'M' ^ 0x33, b[9] = 'Z' ^ 0x33, b[8 + 0x3E] = b[8 + 0x3F] = 0x33;
        expect_same_scan(b, rng, word ? "pending one-byte decode" : "one-byte header after a failed candidate");
    }
}

// Every kernel set passes the same offsets as the portable one through each filter, at every lane of its vectors and
// past them: bytes drawn from a few values make each filter pass often.
TEST(XorDetectKernels, FiltersAgreeWithPortable) {
    using namespace kq::xordetect;
    std::mt19937 rng(5);
    const std::pair<filter, std::vector<uint8_t>> rows[] = {
        {filter::xor1, {0x00, 0x17, 'M', 'Z'}}, {filter::add1, {0x00, 0x0D, 'M', 'Z'}}, {filter::xor4, {0x00, 0x01, 0x0B, 0x45, 0x50, 0x5B}},
        {filter::rule, {0x00, 0x01, 0x01, 0x01}}, {filter::widened, {0x00, 0x45, 0x4C, 0x50}}, {filter::add4, {0x00, 0x0B, 0x0C}}};
    auto passing = [](const lane_kernels &k, filter f, const bytes &b, uint64_t from, uint64_t to) {
        std::vector<uint64_t> found;
        uint32_t hits;
        for (uint64_t at = k.find(f, b.data(), from, to, &hits); at < to; at = k.find(f, b.data(), at + 32, to, &hits))
            for (; hits; hits &= hits - 1) found.push_back(at + unsigned(__builtin_ctz(hits)));
        return found;
    };
    for (const auto &[f, values] : rows)
        for (size_t size : {700, 65536 + 37}) {
            bytes b(size);
            for (uint8_t &x : b) x = values[rng() % values.size()];
            const uint64_t from = f == filter::rule ? 4 * (rng() % 16) : rng() % 64, to = size - 128;
            const std::vector<uint64_t> expected = passing(portable_lane_kernels, f, b, from, to);
            EXPECT_GE(expected.size(), size / 8192) << int(f);
            for (const lane_kernels *const *k = all_lane_kernels; *k; k++)
                if ((*k)->available()) {
                    EXPECT_EQ(passing(**k, f, b, from, to), expected) << (*k)->name << " filter " << int(f);
                }
        }
}

}  // namespace
