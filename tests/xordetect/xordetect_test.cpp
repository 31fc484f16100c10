// Slots 57-59 through the loaded module, on constructed buffers: the header
// test's bounds, each scheme, the key outputs and the stub repair.
#include <string.h>
#include <sys/stat.h>

#include "support/module_fixture.h"
#include "xordetect/xordetect_samples.h"

namespace {

using xsamples::bytes;

class XorDetect : public kqtest::ModuleTest {
protected:
    int32_t check(const bytes &b) { return check_(b.data(), uint32_t(b.size())); }
    int32_t find(const bytes &b) {
        dec.assign(512, 0xEE);
        kb = 0x77;
        kw = 0x77777777;
        return find_(b.data(), dec.data(), &kb, &kw);
    }
    int32_t scan(bytes &b) {
        dec.assign(b.size(), 0xEE);
        kb = 0x77;
        kw = 0x77777777;
        return scan_(b.data(), dec.data(), &kb, &kw, uint32_t(b.size()));
    }
    void SetUp() override {
        ModuleTest::SetUp();
        check_ = slot<xordetect_check_header_fn>(SLOT_XORDETECT_CHECK_HEADER);
        find_ = slot<xordetect_find_key_fn>(SLOT_XORDETECT_FIND_KEY);
        scan_ = slot<xordetect_scan_buffer_fn>(SLOT_XORDETECT_SCAN_BUFFER);
    }
    xordetect_check_header_fn check_ = nullptr;
    xordetect_find_key_fn find_ = nullptr;
    xordetect_scan_buffer_fn scan_ = nullptr;
    bytes dec;
    uint8_t kb = 0;
    uint32_t kw = 0;
};

const uint32_t four_key = 0x9C2B5E13;  // four different bytes

TEST_F(XorDetect, HeaderTestBounds) {
    EXPECT_EQ(check(xsamples::plain_image(512)), 1);
    EXPECT_EQ(check(xsamples::plain_image(512, 0, 384)), 1);  // size - 128
    bytes late = xsamples::plain_image(1024, 0, 896);
    EXPECT_EQ(check(late), 1);
    bytes beyond = xsamples::plain_image(1024, 0, 896);
    xsamples::put32(beyond, 0x3C, 897);  // size - 127
    EXPECT_EQ(check(beyond), 0);
    bytes zero = xsamples::plain_image(512);
    xsamples::put32(zero, 0x3C, 0);
    EXPECT_EQ(check(zero), 0);
    bytes plus = xsamples::plain_image(512);
    xsamples::put16(plus, 0x80 + 0x18, 0x20B);
    EXPECT_EQ(check(plus), 0);
    bytes none = xsamples::plain_image(512);
    for (uint32_t off : {0x48u, 0x3Cu, 0x68u, 0x74u}) xsamples::put32(none, 0x80 + off, 7);
    EXPECT_EQ(check(none), 0);
    xsamples::put32(none, 0x80 + 0x74, 16);  // any one of the four suffices
    EXPECT_EQ(check(none), 1);
    bytes small = xsamples::plain_image(512);
    small.pop_back();
    EXPECT_EQ(check_(small.data(), 511), 0);
    EXPECT_EQ(check_(nullptr, 512), 0);
}

TEST_F(XorDetect, FindKeyPlainAndOneByte) {
    bytes plain = xsamples::plain_image(512);
    EXPECT_EQ(find(plain), 1);
    EXPECT_EQ(kb, 0);
    EXPECT_EQ(kw, 0u);
    EXPECT_EQ(dec, plain);
    bytes enc = plain;
    xsamples::xor_bytes(enc, 0xA7);
    EXPECT_EQ(find(enc), 1);
    EXPECT_EQ(kb, 0xA7);
    EXPECT_EQ(kw, 0xA7A7A7A7u);
    EXPECT_EQ(dec, plain);
    dec.assign(512, 0);
    EXPECT_EQ(find_(nullptr, dec.data(), &kb, &kw), 0);
    EXPECT_EQ(find_(enc.data(), dec.data(), nullptr, &kw), 0);
}

TEST_F(XorDetect, FindKeyFourBytes) {
    bytes enc = xsamples::plain_image(1024);
    xsamples::xor_words(enc, four_key);
    bytes block(enc.begin(), enc.begin() + 512);
    EXPECT_EQ(find(block), 1);
    EXPECT_EQ(kb, 0);
    EXPECT_EQ(kw, four_key);

    // Through the signature only at a multiple of 4 not above 383.
    std::mt19937 rng(9);
    for (uint32_t lfanew : {380u, 384u}) {
        bytes noisy = xsamples::random_bytes(512, rng);
        xsamples::write_header(noisy, 0, lfanew);
        xsamples::xor_words(noisy, four_key);
        EXPECT_EQ(find(noisy), lfanew == 380 ? 1 : 0) << lfanew;
        // four equal words (encoded zeros) lead to the key at any place
        bytes zeros = xsamples::plain_image(512, 0, lfanew);
        xsamples::xor_words(zeros, four_key);
        EXPECT_EQ(find(zeros), 1) << lfanew;
        EXPECT_EQ(kw, four_key);
    }
}

TEST_F(XorDetect, ScanRejectsShortOrNull) {
    bytes b = xsamples::plain_image(512);
    b.pop_back();
    EXPECT_EQ(scan(b), 0);
    EXPECT_EQ(kb, 0x77);
    EXPECT_EQ(kw, 0x77777777u);
    EXPECT_EQ(dec, bytes(511, 0xEE));
    EXPECT_EQ(scan_(b.data(), nullptr, &kb, &kw, 511), 0);
}

TEST_F(XorDetect, ScanPlainAndOneByteXor) {
    bytes plain = xsamples::plain_image(512);
    bytes src = plain;
    EXPECT_EQ(scan(src), 0);
    EXPECT_EQ(kb, 0);
    EXPECT_EQ(kw, 0u);
    EXPECT_EQ(dec, plain);
    xsamples::xor_bytes(src, 0x3D);
    EXPECT_EQ(scan(src), 0);
    EXPECT_EQ(kb, 0x3D);
    EXPECT_EQ(kw, 0x3D3D3D3Du);
    EXPECT_EQ(dec, plain);
}

TEST_F(XorDetect, ScanFourByteXorAndStubRepair) {
    bytes plain = xsamples::plain_image(1024);
    bytes src = plain;
    xsamples::xor_words(src, four_key);
    EXPECT_EQ(scan(src), 0);
    EXPECT_EQ(kb, 0);
    EXPECT_EQ(kw, four_key);
    src[0] = 0x00;
    src[1] = 0x11;
    EXPECT_EQ(scan(src), 0);
    EXPECT_EQ(kw, four_key);
    EXPECT_EQ(dec[0], 'M');
    EXPECT_EQ(dec[1], 'Z');
    EXPECT_EQ(src[0], uint8_t('M' ^ 0x13));
    EXPECT_EQ(src[1], uint8_t('Z' ^ 0x5E));
}

// The rule of four equal words is tried only at the first place it applies:
// a decoy run in front hides a header that only the rule can find (its
// Subsystem fails the signature candidate's tests).
TEST_F(XorDetect, RepeatedWordRuleOnlyOnce) {
    bytes plain = xsamples::plain_image(1024, 0x40);
    xsamples::put16(plain, 0x40 + 0x80 + 0x5C, 0);
    bytes src = plain;
    xsamples::xor_words(src, four_key);
    EXPECT_EQ(scan(src), 0x40);
    EXPECT_EQ(kw, four_key);
    memset(&src[0], 0x11, 16);
    EXPECT_EQ(scan(src), -1);  // then found as a sixteen-byte key only
    EXPECT_EQ(kb, 0xFF);
    EXPECT_EQ(kw, 1u);
}

// The repair may place a header at size - 511, one past the last position a
// header can be reported at: -1 then, with the four-byte key kept.
TEST_F(XorDetect, RepairBeyondLastPosition) {
    bytes plain(1024, 0);
    const size_t h = 1024 - 511, s = 616;
    xsamples::write_header(plain, h, s - h);
    plain[h] = plain[h + 1] = 0;
    bytes src = plain;
    xsamples::xor_words(src, four_key);
    EXPECT_EQ(scan(src), -1);
    EXPECT_EQ(kb, 0);
    EXPECT_EQ(kw, four_key);
    EXPECT_EQ(dec[h], 'M');
    EXPECT_EQ(src[h + 1], uint8_t('Z' ^ 0x5E));
}

TEST_F(XorDetect, DetectedOnlySchemes) {
    bytes widened(1024, 0);
    xsamples::widen_signature(widened, 0x100);
    bytes block = xsamples::plain_image(1024);
    uint8_t key[16];
    for (int t = 0; t < 16; t++) key[t] = uint8_t(0x31 * t + 7);
    xsamples::xor_block(block, key);  // the zeros at 0x100.. become the key
    bytes added = xsamples::plain_image(1024);
    xsamples::add_bytes(added, 0x21);
    bytes added4 = xsamples::plain_image(1024);
    xsamples::add_words(added4, four_key);
    for (bytes *b : {&widened, &block, &added, &added4}) {
        EXPECT_EQ(scan(*b), -1);
        EXPECT_EQ(kb, 0xFF);
        EXPECT_EQ(kw, 1u);
    }
    scan(block);
    bytes plain = xsamples::plain_image(1024);
    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + 1020, dec.begin()));
}

TEST_F(XorDetect, PlainSignatureWithoutMz) {
    bytes b = xsamples::plain_image(1024);
    b[0] = b[1] = 0;
    xsamples::put32(b, 0x3C, 0);
    xsamples::put16(b, 0x08, 0);
    EXPECT_EQ(scan(b), -1);
    EXPECT_EQ(kb, 0);
    EXPECT_EQ(kw, 1u);
}

}  // namespace

namespace {

void write_file(const std::string &path, const xsamples::bytes &b) {
    mkdir(path.substr(0, path.rfind('/')).c_str(), 0755);
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(b.data(), 1, b.size(), f);
    fclose(f);
}

// A header across the edge of the tool's first window is found in the next.
TEST(XorDetectTool, FindsHeaderAcrossWindowEdgeAndDecodes) {
    const size_t at = (1 << 20) - 100;
    xsamples::bytes img = xsamples::plain_image((1 << 20) + 4096, at);
    xsamples::xor_bytes(img, 0x6B);
    const std::string in = kqtest::temp_path("xor_window.bin"), out = kqtest::temp_path("xor_window.out");
    write_file(in, img);
    std::string text;
    ASSERT_EQ(kqtest::run_command(kqtest::tool_command("xor --json --decode " + out + " " + in), &text), 0) << text;
    char offset[32];
    snprintf(offset, sizeof offset, "0x%zx", size_t(at));
    EXPECT_NE(text.find("\"scheme\":\"xor8\",\"offset\":\"" + std::string(offset) + "\",\"key\":\"0x6b\""),
              std::string::npos)
        << text;
    FILE *f = fopen(out.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    uint8_t mz[2] = {};
    fseek(f, long(at), SEEK_SET);
    EXPECT_EQ(fread(mz, 1, 2, f), 2u);
    fclose(f);
    EXPECT_EQ(mz[0], 'M');
    EXPECT_EQ(mz[1], 'Z');
    ASSERT_EQ(kqtest::run_command(kqtest::tool_command("xor " + in.substr(0, in.size() - 4) + "_missing"), &text), 2);
}

}  // namespace
