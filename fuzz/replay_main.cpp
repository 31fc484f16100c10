// Runs a fuzz target over files without libFuzzer: each argument is a file or
// a folder of files (a seed corpus). The test build links every target with
// this main and runs it over its committed corpus.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

void run(const std::string &path, int *count) {
    if (DIR *d = opendir(path.c_str())) {
        std::vector<std::string> names;
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(path + "/" + e->d_name);
        closedir(d);
        std::sort(names.begin(), names.end());
        for (const std::string &name : names) run(name, count);
        return;
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++*count;
}

}  // namespace

int main(int argc, char **argv) {
    int count = 0;
    for (int i = 1; i < argc; i++) run(argv[i], &count);
    printf("%d inputs replayed\n", count);
    return count > 0 ? 0 : 1;
}
