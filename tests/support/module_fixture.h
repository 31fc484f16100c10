// A test host: the built module loaded through the reference host, with
// helpers to open synthetic files and to check that nothing leaked. Tests
// call the table with kqhelp::call<SLOT_*>(api_, ...).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kqhelp/slot_call.hpp"
#include "kqhost.h"

namespace kqtest {

using bytes = std::vector<uint8_t>;
using kqhelp::call;

// A scan_file over bytes served from memory by host (null when the module refuses).
scan_file *open_scan_file(kqhost *host, const bytes &data);
void close_scan_file(kqhost *host, scan_file *file);
// Every host allocation the module asked for so far, pools included.
uint64_t allocations(const kqhost *host);

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;  // destroys the files of create(), then nothing may be live

    template <class Fn> Fn exported(const char *name) const { return reinterpret_cast<Fn>(kqhost_symbol(host_, name)); }
    host_context *ctx() { return kqhost_context(host_); }
    uint32_t instance() const { return kqhost_instance(host_); }
    uint64_t calls(kqhost_call kind) const { return kqhost_calls(host_, kind); }
    uint64_t live_blocks() const { return kqhost_live_blocks(host_); }
    uint32_t open_bytes(const bytes &data) { return kqhost_open_memory(host_, data.data(), data.size()); }
    scan_file *create(const bytes &data) { return create_from_handle(open_bytes(data)); }
    scan_file *create_from_handle(uint32_t handle);

    kqhost *host_ = nullptr;
    const helper_api_entry *api_ = nullptr;
    std::vector<scan_file *> files_;
};

// Regular files of a folder (not those whose name starts with '.'), sorted, at most limit of them.
std::vector<std::string> files_in(const std::string &dir, size_t limit = SIZE_MAX);
// Runs a shell command and returns its exit status (-1 for a signal); its stdout goes to *out.
int run_command(const std::string &command, std::string *out);

}  // namespace kqtest
