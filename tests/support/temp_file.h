// Files written under the build's test-data/ for tests that run the kqhelp tool.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "support/module_fixture.h"

namespace kqtest {

// Writes data to test-data/name (name may hold one sub-folder level) and returns its path.
template <class Bytes> std::string write_temp_file(const std::string &name, const Bytes &data) {
    const std::string path = temp_path(name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(data.data()), data.size());
    return path;
}

}  // namespace kqtest
