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

TEST_P(Crc32Kernels, CheckValue) {
    const uint8_t digits[] = "123456789";
    EXPECT_EQ(~GetParam().fn(0xFFFFFFFFu, digits, 9), 0xCBF43926u);
    EXPECT_EQ(GetParam().fn(0x12345678u, digits, 0), 0x12345678u);
}

TEST_P(Crc32Kernels, AgreeWithZlib) {
    std::mt19937 rng(99);
    std::vector<uint8_t> data(5000 + 64);
    for (auto &b : data) b = static_cast<uint8_t>(rng());
    for (size_t len = 0; len < 300; len++)
        for (size_t start = 0; start < 16; start += 5) {
            const uint32_t reg = rng();
            ASSERT_EQ(GetParam().fn(reg, data.data() + start, len), zlib_raw(reg, data.data() + start, len))
                << len << " at " << start;
        }
    for (size_t len : {1000, 1023, 1024, 1025, 4096, 4099, 5000}) {
        const uint32_t reg = rng();
        ASSERT_EQ(GetParam().fn(reg, data.data() + 3, len), zlib_raw(reg, data.data() + 3, len)) << len;
    }
}

TEST_P(Crc32Kernels, PiecesGiveTheWholeResult) {
    std::mt19937 rng(5);
    std::vector<uint8_t> data(700);
    for (auto &b : data) b = static_cast<uint8_t>(rng());
    const uint32_t whole = GetParam().fn(0xFFFFFFFFu, data.data(), data.size());
    for (size_t split = 0; split <= data.size(); split += 7) {
        uint32_t r = GetParam().fn(0xFFFFFFFFu, data.data(), split);
        ASSERT_EQ(GetParam().fn(r, data.data() + split, data.size() - split), whole) << split;
    }
}

INSTANTIATE_TEST_SUITE_P(All, Crc32Kernels,
                         ::testing::Values(kernel{"bytewise", kq::crc32_bytewise, always},
                                           kernel{"sliced", kq::crc32_sliced, always},
                                           kernel{"clmul", kq::crc32_clmul, kq::crc32_clmul_available}),
                         [](const ::testing::TestParamInfo<kernel> &info) { return std::string(info.param.name); });

}  // namespace
