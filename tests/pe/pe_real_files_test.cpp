// Two small real PE files (tests/data/pe) through the slots and the tool;
// the expected values were read with Debian's python3-pefile.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "pe/pe_image.h"
#include "support/module_fixture.h"

namespace kqtest {
namespace {

bytes read_data(const std::string &name) {
    std::ifstream in(std::string(KQHELP_SOURCE_DIR) + "/tests/data/pe/" + name, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), {});
}

std::string data_path(const std::string &name) { return std::string(KQHELP_SOURCE_DIR) + "/tests/data/pe/" + name; }

using PeRealFilesTest = ModuleTest;

TEST_F(PeRealFilesTest, Pe32Dll) {
    bytes data = read_data("nsis-dialer.dll");
    ASSERT_EQ(data.size(), 6656u);
    scan_file *f = create(data);
    EXPECT_EQ(slot<pe_get_nt_headers64_fn>(SLOT_PE_GET_NT_HEADERS64)(f), nullptr);
    const uint8_t *nt = slot<pe_get_nt_headers32_fn>(SLOT_PE_GET_NT_HEADERS32)(f);
    ASSERT_NE(nt, nullptr);
    uint32_t n = 0;
    const uint8_t *t = slot<pe_get_sections32_fn>(SLOT_PE_GET_SECTIONS32)(f, &n);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(n, 7u);
    EXPECT_EQ(memcmp(t, ".text", 6), 0);
    EXPECT_EQ(slot<pe_rva_to_offset_ex_fn>(SLOT_PE_RVA_TO_OFFSET_EX)(int32_t(n), t, get32(nt + 40)), 1024u);
    uint64_t size = 1;
    EXPECT_EQ(slot<pe_get_overlay_fn>(SLOT_PE_GET_OVERLAY)(f, &size), 6656u) << "sections end at the file's end";
    EXPECT_EQ(size, 0u);
    uint64_t got = 0, position = 0;
    const uint8_t *w = slot<file_get_window_fn>(SLOT_FILE_GET_WINDOW)(f, REGION_AT_ENTRY, 0, &got, &position);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(got, 6656u - 1024u);
    EXPECT_EQ(memcmp(w, data.data() + 1024, got), 0);
}

TEST_F(PeRealFilesTest, Pe32PlusEfiApplication) {
    scan_file *f = create(read_data("efitools-setnull.efi"));
    EXPECT_EQ(slot<pe_get_nt_headers32_fn>(SLOT_PE_GET_NT_HEADERS32)(f), nullptr);
    ASSERT_NE(slot<pe_get_nt_headers64_fn>(SLOT_PE_GET_NT_HEADERS64)(f), nullptr);
    uint32_t n = 0;
    ASSERT_NE(slot<pe_get_sections64_fn>(SLOT_PE_GET_SECTIONS64)(f, &n), nullptr);
    EXPECT_EQ(n, 5u);
    uint64_t size = 0;
    EXPECT_EQ(slot<pe_get_overlay_fn>(SLOT_PE_GET_OVERLAY)(f, &size), 0xE00u);
    EXPECT_EQ(size, 241u);
    uint64_t got = 0, position = 0;
    EXPECT_EQ(slot<file_get_window_fn>(SLOT_FILE_GET_WINDOW)(f, REGION_AT_ENTRY, 0, &got, &position), nullptr)
        << "entry-point windows are for PE32 images";
}

TEST(PeToolTest, SummaryJsonAndErrors) {
    std::string out;
    ASSERT_EQ(run_command(tool_command("pe --json " + data_path("efitools-setnull.efi")), &out), 0);
    for (const char *field : {"\"format\":\"PE32+\"", "\"number_of_sections\":5", "\"entry_point\":\"0x2000\"",
                              "\"entry_offset_raw\":\"0x400\"", "\"overlay_offset\":\"0xe00\"", "\"overlay_size\":241",
                              "{\"name\":\".text\",\"virtual_address\":\"0x2000\",\"virtual_size\":240,\"raw_pointer\":\"0x400\""})
        EXPECT_NE(out.find(field), std::string::npos) << field << "\n" << out;

    ASSERT_EQ(run_command(tool_command("pe " + data_path("nsis-dialer.dll")), &out), 0);
    EXPECT_NE(out.find("PE32, e_lfanew 0x80"), std::string::npos) << out;
    EXPECT_NE(out.find("entry offset raw 0x400, aligned 0x400"), std::string::npos) << out;

    EXPECT_EQ(run_command(tool_command("pe " + data_path("README.md") + " 2>&1"), &out), 1);
    EXPECT_NE(out.find("not an MS-DOS executable"), std::string::npos) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_EQ(run_command(tool_command("pe 2>/dev/null"), &out), 2);

    ASSERT_EQ(run_command(tool_command("window around-offset 100 " + data_path("nsis-dialer.dll")), &out), 0);
    EXPECT_NE(out.find("size 6656, position 100"), std::string::npos) << out;
    ASSERT_EQ(run_command(tool_command("window 7 -1 " + data_path("nsis-dialer.dll")), &out), 0);
    EXPECT_NE(out.find("size 5632, position 0"), std::string::npos) << out;
    EXPECT_EQ(run_command(tool_command("window at-entry 0 " + data_path("efitools-setnull.efi") + " 2>/dev/null"),
                          &out), 1);
    EXPECT_EQ(run_command(tool_command("window sideways 0 " + data_path("nsis-dialer.dll") + " 2>/dev/null"), &out),
              2);
}

TEST(PeToolTest, TruncatedAndMalformedFilesFailCleanly) {
    bytes image = build_pe(two_sections());
    struct variant {
        const char *name;
        size_t size;
    } variants[] = {{"pe-empty", 0}, {"pe-mz-only", 2}, {"pe-cut-in-nt", 0x80 + 100}};
    for (const variant &v : variants) {
        std::string path = temp_path(v.name);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(image.data()), v.size);
        std::string out;
        EXPECT_EQ(run_command(tool_command("pe " + path + " 2>&1"), &out), 1) << v.name;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << v.name << ": " << out;
    }
}

}  // namespace
}  // namespace kqtest
