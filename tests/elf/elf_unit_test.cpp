// Internals of the ELF reader: the byte-order decoding of the class layouts
// and the entry points outside the table (elf_check_file, the raw loaders).
#include <gtest/gtest.h>
#include <string.h>

#include "elf/elf_reader.h"
#include "kqhost.h"
#include "module/slots.h"
#include "support/elf_image.h"

namespace {

using namespace kq;

TEST(ElfLayout, BigEndianWideFieldsAreOneNumber) {
    const uint8_t bytes[56] = {0, 0, 0, 1, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2};
    elf::phdr64 p{};
    elf::decode_records(bytes, &p, 1, 2);
    EXPECT_EQ(p.p_type, 1u);
    EXPECT_EQ(p.p_flags, 5u);
    EXPECT_EQ(p.p_vaddr, 0x102u);
    elf::decode_records(bytes, &p, 1, 0);  // any EI_DATA other than 1 is big-endian
    EXPECT_EQ(p.p_vaddr, 0x102u);
    elf::decode_records(bytes, &p, 1, 1);
    EXPECT_EQ(p.p_type, 0x01000000u);
    elf::phdr32 q{};
    const uint8_t top[32] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80};
    elf::decode_records(top, &q, 1, 1);
    elf_segment wide{};
    elf::normalise(q, wide);
    EXPECT_EQ(wide.p_vaddr, 0x80000000u);  // zero-extended
}

class ElfInternals : public ::testing::Test {
protected:
    void SetUp() override {
        host = kqhost_create();
        kqhost_use_linked_module(host, module_get_info(), module_get_api());
    }
    void TearDown() override {
        EXPECT_EQ(kqhost_live_blocks(host), 0u);
        kqhost_destroy(host);
    }
    int32_t check_file(const std::vector<uint8_t> &data, const host_services *services) {
        uint32_t h = kqhost_open_memory(host, data.data(), data.size());
        return elf_check_file(kqhost_context(host), kqhost_instance(host), h, data.data(), data.size(), services);
    }
    kqhost *host = nullptr;
};

TEST_F(ElfInternals, CheckFileUsesATemporaryReader) {
    std::vector<uint8_t> good = kqtest::elf_image::executable(2, false).build();
    EXPECT_EQ(check_file(good, kqhost_services(host)), 1);
    std::vector<uint8_t> bad = good;
    bad[1] = 'X';  // the magic is only tested here: elf_reader_get hands out no reader without it
    EXPECT_EQ(check_file(bad, kqhost_services(host)), 0);
    EXPECT_EQ(check_file(good, nullptr), -1);
}

TEST_F(ElfInternals, BadMagicStoresItsCode) {
    std::vector<uint8_t> data = kqtest::elf_image::executable(1, true).build();
    data[0] = 0x7E;
    uint32_t h = kqhost_open_memory(host, data.data(), data.size());
    elf_reader *r = elf_reader_create(kqhost_context(host), kqhost_instance(host), h, data.data(), data.size(),
                                      kqhost_services(host));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(elf_check(r, 0), 0);
    EXPECT_EQ(elf_get_last_error(r), ELF_ERR_MAGIC);
    const elf::ehdr32 *raw = nullptr;
    ASSERT_EQ(elf_read_header32(r, &raw), 0);
    EXPECT_EQ(raw->e_ident[0], 0x7E);
    EXPECT_EQ(raw->e_phnum, 3);
    EXPECT_EQ(elf_reader_destroy(r), 0);
    EXPECT_EQ(elf_reader_destroy(nullptr), -1);
}

}  // namespace
