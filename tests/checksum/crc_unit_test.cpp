// Every CRC kernel against its reference (zlib's crc32; the bitwise CRC-16
// rule), over random buffers, lengths around the kernels' block sizes,
// misaligned starts and splits. Kernels the CPU lacks are skipped.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "checksum/crc_kernels.h"
#include "checksum/crc16_model.h"

namespace {

// zlib's crc32 inverts at both ends; the kernels are raw register updates.
uint32_t zlib_raw(uint32_t reg, const uint8_t *p, size_t n) {
    return ~static_cast<uint32_t>(crc32(~reg & 0xFFFFFFFFu, p, static_cast<uInt>(n)));
}

using kernel_fn = uint32_t (*)(uint32_t, const uint8_t *, uint64_t);

struct kernel {
    const char *name;
    kernel_fn fn;
    bool (*available)();
    uint32_t (*reference)(uint32_t, const uint8_t *, size_t);
    uint32_t register_mask;
    uint32_t digits_from_zero;  // the register after "123456789" from 0
};

bool always() { return true; }

class CrcKernels : public ::testing::TestWithParam<kernel> {
protected:
    void SetUp() override {
        if (!GetParam().available()) GTEST_SKIP() << "this CPU lacks what the kernel needs";
    }
};

TEST_P(CrcKernels, AgreeWithTheReference) {
    const kernel &k = GetParam();
    auto ref = [&](uint32_t reg, const uint8_t *p, size_t n) { return k.reference(reg, p, n) & k.register_mask; };
    const uint8_t digits[] = "123456789";
    EXPECT_EQ(k.fn(0, digits, 9), k.digits_from_zero);
    std::mt19937 rng(99);
    std::vector<uint8_t> data(5000 + 64);
    for (auto &b : data) b = static_cast<uint8_t>(rng());
    for (size_t len = 0; len < 300; len++)
        for (size_t start = 0; start < 16; start += 5) {
            const uint32_t reg = rng() & k.register_mask;
            ASSERT_EQ(k.fn(reg, data.data() + start, len), ref(reg, data.data() + start, len))
                << len << " at " << start;
        }
    for (size_t len : {1000, 1023, 1024, 1025, 4096, 4099, 5000}) {
        const uint32_t reg = rng() & k.register_mask;
        ASSERT_EQ(k.fn(reg, data.data() + 3, len), ref(reg, data.data() + 3, len)) << len;
    }
    const uint32_t whole = ref(k.register_mask, data.data(), 700);
    for (size_t split = 0; split <= 700; split += 7)
        ASSERT_EQ(k.fn(k.fn(k.register_mask, data.data(), split), data.data() + split, 700 - split), whole) << split;
}

// ~CRC-32 of the digits is 0xCBF43926 from ~0; raw from 0 it is 0x2DFD2D88.
INSTANTIATE_TEST_SUITE_P(
    All, CrcKernels,
    ::testing::Values(kernel{"crc32_bytewise", kq::crc32_bytewise, always, zlib_raw, 0xFFFFFFFFu, 0x2DFD2D88u},
                      kernel{"crc32_sliced", kq::crc32_sliced, always, zlib_raw, 0xFFFFFFFFu, 0x2DFD2D88u},
                      kernel{"crc32_clmul", kq::crc32_clmul, kq::crc32_clmul_available, zlib_raw, 0xFFFFFFFFu,
                             0x2DFD2D88u},
                      kernel{"crc16_bytewise", kq::crc16_bytewise, always, kqtest::crc16_bitwise, 0xFFFFu, 0xBEEFu},
                      kernel{"crc16_sliced", kq::crc16_sliced, always, kqtest::crc16_bitwise, 0xFFFFu, 0xBEEFu},
                      kernel{"crc16_clmul", kq::crc16_clmul, kq::crc16_clmul_available, kqtest::crc16_bitwise,
                             0xFFFFu, 0xBEEFu}),
    [](const ::testing::TestParamInfo<kernel> &info) { return std::string(info.param.name); });

}  // namespace
