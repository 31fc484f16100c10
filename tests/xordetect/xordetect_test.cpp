// Slots 57-59 through the loaded module: the same answers as the reference model on each scheme's encodings (the
// internals meet the model in depth in the differential unit test), and short or null arguments.
#include <random>

#include "support/module_fixture.h"
#include "xordetect/xordetect_oracle.h"
#include "xordetect/xordetect_samples.h"

namespace kqtest {
namespace {

TEST_F(ModuleTest, XorDetectSlotsAgreeWithModel) {
    std::mt19937 rng(11);
    uint8_t kb, kb_ref;
    uint32_t kw, kw_ref;
    for (int round = 0; round < 40; round++) {
        const size_t size = 512 + rng() % 2000, at = rng() % (size - 511) & ~size_t(15);
        bytes b = xsamples::plain_image(size, at, 0x80 + 8 * (rng() % 8));
        const uint32_t word = rng() | 0x01010101u;
        if (round % 2) (round % 4 == 1 ? xsamples::xor_bytes : xsamples::add_bytes)(b, uint8_t(word));
        if (round % 4 == 2) xsamples::xor_words(b, word);
        if (round % 5 == 4) b[rng() % size] ^= uint8_t(1 + rng() % 255);
        EXPECT_EQ(call<SLOT_XORDETECT_CHECK_HEADER>(api_, b.data(), uint32_t(size)), xoracle::check_header(b.data(), uint32_t(size)));
        bytes dec(size, 0xEE), dec_ref(size, 0xEE), src_ref = b;
        kb = kb_ref = 7, kw = kw_ref = 7;
        EXPECT_EQ(call<SLOT_XORDETECT_FIND_KEY>(api_, b.data(), dec.data(), &kb, &kw), xoracle::find_key(b.data(), dec_ref.data(), &kb_ref, &kw_ref));
        EXPECT_EQ(call<SLOT_XORDETECT_SCAN_BUFFER>(api_, b.data(), dec.data(), &kb, &kw, uint32_t(size)),
                  xoracle::scan_buffer(src_ref.data(), dec_ref.data(), &kb_ref, &kw_ref, uint32_t(size)));
        EXPECT_TRUE(kb == kb_ref && kw == kw_ref && dec == dec_ref && b == src_ref) << "round " << round;
    }
    bytes b = xsamples::plain_image(512), dec(512);
    uint8_t *const s = b.data(), *const d = dec.data();
    EXPECT_EQ(call<SLOT_XORDETECT_CHECK_HEADER>(api_, s, 511) + call<SLOT_XORDETECT_CHECK_HEADER>(api_, nullptr, 512) +
                  call<SLOT_XORDETECT_FIND_KEY>(api_, nullptr, d, &kb, &kw) + call<SLOT_XORDETECT_FIND_KEY>(api_, s, nullptr, &kb, &kw) +
                  call<SLOT_XORDETECT_FIND_KEY>(api_, s, d, nullptr, &kw) + call<SLOT_XORDETECT_FIND_KEY>(api_, s, d, &kb, nullptr) +
                  call<SLOT_XORDETECT_SCAN_BUFFER>(api_, s, d, &kb, &kw, 511) + call<SLOT_XORDETECT_SCAN_BUFFER>(api_, s, d, nullptr, &kw, 512) +
                  call<SLOT_XORDETECT_SCAN_BUFFER>(api_, s, d, &kb, nullptr, 512) + call<SLOT_XORDETECT_SCAN_BUFFER>(api_, nullptr, d, &kb, &kw, 512) +
                  call<SLOT_XORDETECT_SCAN_BUFFER>(api_, s, nullptr, &kb, &kw, 512), 0) << "each refused";
}

}  // namespace
}  // namespace kqtest
