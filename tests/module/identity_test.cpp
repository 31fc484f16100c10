// The identity record byte for byte, the entry points and the table.
#include <string.h>

#include "support/module_fixture.h"

namespace kqtest {
namespace {

using IdentityTest = ModuleTest;

TEST_F(IdentityTest, EntryPointsAreStable) {
    auto version = exported<module_get_abi_version_fn>("module_get_abi_version");
    auto info = exported<module_get_info_fn>("module_get_info");
    auto api = exported<module_get_api_fn>("module_get_api");
    ASSERT_TRUE(version && info && api);
    EXPECT_EQ(version(), 1u);
    EXPECT_EQ(info(), info());
    EXPECT_EQ(api(), api());
    EXPECT_EQ(api(), api_);
    for (int slot = 0; slot < KQHELP_API_SLOTS; slot++) EXPECT_NE(api_[slot], nullptr) << "slot " << slot;
}

#if defined(__i386__)
TEST_F(IdentityTest, RecordsMatchTheBinaryLayoutByteForByte) {
    const module_info *info = kqhost_module_info(host_);
    const uint8_t *raw = reinterpret_cast<const uint8_t *>(info);
    uint8_t expected[64] = {'K', 'Q', 'H', 'E', 'L', 'P'};
    const uint8_t tail[] = {8, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0,   // version 8.1.1.2
                            0xD8, 0x07, 10, 9, 12, 54, 46, 0,                 // 2008-10-09 12:54:46, pad
                            0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};  // reserved
    memcpy(expected + 32, tail, sizeof tail);
    EXPECT_EQ(memcmp(raw, expected, sizeof expected), 0);
    EXPECT_STREQ(info->name_copy, "KQHELP");

    const uint8_t *deps = reinterpret_cast<const uint8_t *>(info->dependencies);
    const char *names[] = {"KQCORE", "KQVDF", ""};
    const uint32_t versions[][3] = {{8, 1, 2}, {8, 1, 0}, {0, 0, 0}};
    for (int i = 0; i < 3; i++, deps += 52) {
        uint8_t record[52] = {};
        memcpy(record, names[i], strlen(names[i]));
        memcpy(record + 32, versions[i], 12);
        memset(record + 44, 0xFF, 8);
        EXPECT_EQ(memcmp(deps, record, 52), 0) << "dependency " << i;
    }
}
#endif

TEST_F(IdentityTest, PlaceholderSlots) {
    slot<helper_noop_a_fn>(SLOT_HELPER_NOOP_A)();
    slot<helper_noop_b_fn>(SLOT_HELPER_NOOP_B)();
    EXPECT_EQ(slot<helper_fail_a_fn>(SLOT_HELPER_FAIL_A)(), -1);
    EXPECT_EQ(slot<helper_fail_b_fn>(SLOT_HELPER_FAIL_B)(), -1);
    auto clamp = slot<helper_clamp_nonpositive_fn>(SLOT_HELPER_CLAMP_NONPOSITIVE);
    EXPECT_EQ(clamp(5), 0);
    EXPECT_EQ(clamp(-7), -7);
    EXPECT_EQ(clamp(0), 0);
    EXPECT_EQ(clamp(INT32_MIN), INT32_MIN);
}

TEST_F(IdentityTest, ToolInfoReportsTheRecordAndAFullTable) {
    std::string out;
    ASSERT_EQ(run_command(tool_command("info"), &out), 0) << out;
    EXPECT_NE(out.find("KQHELP"), std::string::npos);
    EXPECT_NE(out.find("8.1.1.2"), std::string::npos);
    EXPECT_NE(out.find("KQCORE     8.1.2"), std::string::npos);
    EXPECT_NE(out.find("75 slots, all filled"), std::string::npos);
}

}  // namespace
}  // namespace kqtest
