// Every CRC-32 kernel against zlib's crc32, over random buffers, lengths
// around the kernels' block sizes and misaligned starts.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "checksum/crc32.h"

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
};

bool always() { return true; }

class Crc32Kernels : public ::testing::TestWithParam<kernel> {
protected:
    void SetUp() override {
        if (!GetParam().available()) GTEST_SKIP() << "this CPU has no carry-less multiplication";
    }
};

// zlib is the reference: every length up to 300 at misaligned starts, the
// kernels' block sizes, and a buffer split at every seventh byte.
TEST_P(Crc32Kernels, AgreeWithZlib) {
    const kernel_fn fn = GetParam().fn;
    const uint8_t digits[] = "123456789";
    EXPECT_EQ(~fn(0xFFFFFFFFu, digits, 9), 0xCBF43926u);
    std::mt19937 rng(99);
    std::vector<uint8_t> data(5000 + 64);
    for (auto &b : data) b = static_cast<uint8_t>(rng());
    for (size_t len = 0; len < 300; len++)
        for (size_t start = 0; start < 16; start += 5) {
            const uint32_t reg = rng();
            ASSERT_EQ(fn(reg, data.data() + start, len), zlib_raw(reg, data.data() + start, len))
                << len << " at " << start;
        }
    for (size_t len : {1000, 1023, 1024, 1025, 4096, 4099, 5000}) {
        const uint32_t reg = rng();
        ASSERT_EQ(fn(reg, data.data() + 3, len), zlib_raw(reg, data.data() + 3, len)) << len;
    }
    const uint32_t whole = zlib_raw(0xFFFFFFFFu, data.data(), 700);
    for (size_t split = 0; split <= 700; split += 7)
        ASSERT_EQ(fn(fn(0xFFFFFFFFu, data.data(), split), data.data() + split, 700 - split), whole) << split;
}

INSTANTIATE_TEST_SUITE_P(All, Crc32Kernels,
                         ::testing::Values(kernel{"bytewise", kq::crc32_bytewise, always},
                                           kernel{"sliced", kq::crc32_sliced, always},
                                           kernel{"clmul", kq::crc32_clmul, kq::crc32_clmul_available}),
                         [](const ::testing::TestParamInfo<kernel> &info) { return std::string(info.param.name); });

}  // namespace
