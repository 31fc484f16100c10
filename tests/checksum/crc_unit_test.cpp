// Every CRC kernel against its reference (zlib's crc32; the bitwise CRC-16
// rule), over lengths around the kernels' block sizes, misaligned starts and
// splits. Kernels the CPU lacks are skipped.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "checksum/crc16_model.h"
#include "checksum/crc_kernels.h"

namespace {

// zlib's crc32 inverts at both ends; the kernels are raw register updates.
uint32_t zlib_raw(uint32_t reg, const uint8_t *p, size_t n) { return ~uint32_t(crc32(~reg & 0xFFFFFFFFu, p, uInt(n))); }
bool always() { return true; }

struct kernel { const char *name; uint32_t (*fn)(uint32_t, const uint8_t *, uint64_t); bool (*available)();
                uint32_t (*reference)(uint32_t, const uint8_t *, size_t); uint32_t mask; };

class CrcKernels : public ::testing::TestWithParam<kernel> {};

TEST_P(CrcKernels, AgreeWithTheReference) {
    const kernel &k = GetParam();
    if (!k.available()) GTEST_SKIP() << "this CPU lacks what the kernel needs";
    std::mt19937 rng(99);
    std::vector<uint8_t> data(5000 + 64);
    for (auto &b : data) b = uint8_t(rng());
    auto expect_same = [&](size_t start, size_t len) {
        const uint32_t reg = rng() & k.mask;
        ASSERT_EQ(k.fn(reg, data.data() + start, len), k.reference(reg, data.data() + start, len) & k.mask) << len << " at " << start;
    };
    for (size_t len = 0; len < 300; len++)
        for (size_t start = 0; start < 16; start += 5) expect_same(start, len);
    for (size_t len : {1000, 1023, 1024, 1025, 4096, 4099, 5000}) expect_same(3, len);
    const uint32_t whole = k.reference(k.mask, data.data(), 700) & k.mask;
    for (size_t split = 0; split <= 700; split += 7)
        ASSERT_EQ(k.fn(k.fn(k.mask, data.data(), split), data.data() + split, 700 - split), whole) << split;
}

INSTANTIATE_TEST_SUITE_P(All, CrcKernels,
                         ::testing::Values(kernel{"crc32_bytewise", kq::crc32_bytewise, always, zlib_raw, 0xFFFFFFFFu},
                                           kernel{"crc32_sliced", kq::crc32_sliced, always, zlib_raw, 0xFFFFFFFFu},
                                           kernel{"crc32_clmul", kq::crc32_clmul, kq::crc32_clmul_available, zlib_raw, 0xFFFFFFFFu},
                                           kernel{"crc16_bytewise", kq::crc16_bytewise, always, kqtest::crc16_bitwise, 0xFFFFu},
                                           kernel{"crc16_sliced", kq::crc16_sliced, always, kqtest::crc16_bitwise, 0xFFFFu},
                                           kernel{"crc16_clmul", kq::crc16_clmul, kq::crc16_clmul_available, kqtest::crc16_bitwise, 0xFFFFu}),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
