// Slots 54 and 55 through the loaded module.
#include <zlib.h>

#include <random>

#include "checksum/crc16_model.h"
#include "support/module_fixture.h"

namespace kqtest {
namespace {

using CrcSlots = ModuleTest;

const uint8_t kDigits[] = "123456789";

TEST_F(CrcSlots, Crc32CheckValueAndPieces) {
    auto crc = slot<crc32_update_fn>(SLOT_CRC32_UPDATE);
    EXPECT_EQ(~crc(0xFFFFFFFFu, kDigits, 9), 0xCBF43926u);
    EXPECT_EQ(crc(0xDEADBEEFu, nullptr, 0), 0xDEADBEEFu);
    std::mt19937 rng(3);
    std::vector<uint8_t> data(70000);
    for (auto &b : data) b = static_cast<uint8_t>(rng());
    const uint32_t expected = static_cast<uint32_t>(::crc32(0, data.data(), static_cast<uInt>(data.size())));
    EXPECT_EQ(~crc(0xFFFFFFFFu, data.data(), static_cast<uint32_t>(data.size())), expected);
    for (int round = 0; round < 50; round++) {
        size_t a = rng() % data.size(), b = rng() % data.size();
        if (a > b) std::swap(a, b);
        uint32_t r = crc(0xFFFFFFFFu, data.data(), static_cast<uint32_t>(a));
        r = crc(r, data.data() + a, static_cast<uint32_t>(b - a));
        r = crc(r, data.data() + b, static_cast<uint32_t>(data.size() - b));
        ASSERT_EQ(~r, expected) << a << " " << b;
    }
}

TEST_F(CrcSlots, Crc16CheckValuesAndTheBitwiseRuleInPieces) {
    auto crc = slot<crc16_update_fn>(SLOT_CRC16_UPDATE);
    const uint8_t zeros[2] = {0, 0};
    const uint32_t after_digits = crc(0, kDigits, 9);
    EXPECT_EQ(after_digits, 0xBEEFu);
    EXPECT_EQ(crc(after_digits, zeros, 2), 0x31C3u);  // the direct XMODEM CRC of the digits
    EXPECT_EQ(crc(0x12345678u, kDigits, 9), crc(0x5678u, kDigits, 9));
    EXPECT_EQ(crc(0x12345678u, nullptr, 0), 0x5678u);
    std::mt19937 rng(8);
    for (int round = 0; round < 200; round++) {
        std::vector<uint8_t> data(rng() % 100);
        for (auto &b : data) b = static_cast<uint8_t>(rng());
        const uint32_t start = rng();
        const size_t split = data.empty() ? 0 : rng() % data.size();
        uint32_t r = crc(start, data.data(), static_cast<uint32_t>(split));
        r = crc(r, data.data() + split, static_cast<uint32_t>(data.size() - split));
        ASSERT_EQ(r, crc16_bitwise(start, data.data(), data.size())) << round;
        ASSERT_EQ(r >> 16, 0u);
    }
}

}  // namespace
}  // namespace kqtest
