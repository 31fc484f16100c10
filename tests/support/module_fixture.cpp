#include "support/module_fixture.h"

#include <stdio.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>

namespace kqtest {

void ModuleTest::SetUp() {
    host_ = kqhost_create();
    ASSERT_EQ(kqhost_load_module(host_, KQHELP_MODULE_PATH), 0) << kqhost_last_error(host_);
    api_ = kqhost_api(host_);
}

void ModuleTest::TearDown() {
    for (scan_file *f : files_) close_scan_file(host_, f);
    EXPECT_EQ(kqhost_report_leaks(host_, stderr), 0u) << "host blocks still live after every scan_file was destroyed";
    EXPECT_EQ(kqhost_misuse_count(host_), 0u) << "bad frees or calls with a wrong instance";
    kqhost_destroy(host_);
}

scan_file *ModuleTest::create_from_handle(uint32_t handle) {
    scan_file *f = call<SLOT_SCAN_FILE_CREATE>(api_, ctx(), instance(), &handle);
    if (f) files_.push_back(f);
    return f;
}

scan_file *open_scan_file(kqhost *host, const bytes &data) {
    uint32_t handle = kqhost_open_memory(host, data.data(), data.size());
    return call<SLOT_SCAN_FILE_CREATE>(kqhost_api(host), kqhost_context(host), kqhost_instance(host), &handle);
}

void close_scan_file(kqhost *host, scan_file *file) {
    call<SLOT_SCAN_FILE_DESTROY>(kqhost_api(host), kqhost_context(host), kqhost_instance(host), file);
}

uint64_t allocations(const kqhost *host) {
    return kqhost_calls(host, KQHOST_CALL_ALLOC) + kqhost_calls(host, KQHOST_CALL_ALLOC_ZEROED) +
           kqhost_calls(host, KQHOST_CALL_POOL_ALLOC) + kqhost_calls(host, KQHOST_CALL_POOL_ALLOC_ZEROED);
}

std::vector<std::string> files_in(const std::string &dir, size_t limit) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(dir, ec))
        if (e.is_regular_file(ec) && e.path().filename().string()[0] != '.') names.push_back(e.path().string());
    std::sort(names.begin(), names.end());
    names.resize(std::min(limit, names.size()));
    return names;
}

int run_command(const std::string &command, std::string *out) {
    FILE *p = popen(command.c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    if (out) out->clear();
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        if (out) out->append(buf, n);
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kqtest
