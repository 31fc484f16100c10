// kqhelp search: every offset at which a pattern occurs in each file, found
// with the module's search slots over successive regions of the file.
#include <inttypes.h>
#include <string.h>

#include <string>
#include <vector>

#include "file_reader.h"
#include "tool.h"

namespace kqtool {
namespace {

constexpr uint64_t kChunk = 1 << 20;

bool parse_hex(const char *text, std::string *out) {
    std::string digits;
    for (const char *p = text; *p; p++)
        if (*p != ' ' && *p != ':') digits += *p;
    if (digits.empty() || digits.size() % 2) return false;
    out->clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        char pair[3] = {digits[i], digits[i + 1], 0};
        char *end = nullptr;
        unsigned long v = strtoul(pair, &end, 16);
        if (*end || !isxdigit(static_cast<unsigned char>(pair[0]))) return false;
        *out += static_cast<char>(v);
    }
    return true;
}

// Prints "PATH: OFFSET" for every match; false when the search slot failed.
bool search_file(tool &t, search_buffer_fn search, const std::string &pattern, const char *path, scan_file *file,
                 uint32_t handle) {
    const auto m = static_cast<int32_t>(pattern.size());
    const auto *x = reinterpret_cast<const uint8_t *>(pattern.data());
    std::vector<uint8_t> buffer;
    uint64_t base = 0;  // file offset of buffer[0]
    if (!rewind_file(file, handle)) {
        t.error(path, "seek failed");
        return false;
    }
    while (read_more(file, handle, buffer, kChunk) > 0) {
        const auto filled = static_cast<int32_t>(buffer.size());
        int32_t from = 0;
        while (filled - from >= m) {
            int32_t r = search(file->ctx, file->instance, buffer.data(), x, m, from, filled - from);
            if (r == SEARCH_NOT_FOUND) break;
            if (r < 0) {
                t.error(path, "search failed (%d)", r);
                return false;
            }
            printf("%s: %" PRIu64 "\n", path, base + static_cast<uint64_t>(from + r));
            from += r + 1;
        }
        // The last m - 1 bytes may start a match that ends in the next piece.
        const int32_t keep = filled < m - 1 ? filled : m - 1;
        buffer.erase(buffer.begin(), buffer.end() - keep);
        base += static_cast<uint64_t>(filled - keep);
    }
    return true;
}

}  // namespace

int cmd_search(tool &t, int argc, char **argv) {
    static const char usage[] = "usage: kqhelp search [-i] [--scrambled] [--hex] PATTERN FILE...\n";
    bool nocase = false, scrambled = false, hex = false;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1]; i++) {
        if (!strcmp(argv[i], "-i")) nocase = true;
        else if (!strcmp(argv[i], "--scrambled")) scrambled = true;
        else if (!strcmp(argv[i], "--hex")) hex = true;
        else if (!strcmp(argv[i], "--")) {
            i++;
            break;
        } else {
            fputs(usage, stderr);
            return EXIT_USAGE;
        }
    }
    if (argc - i < 2) {
        fputs(usage, stderr);
        return EXIT_USAGE;
    }
    std::string pattern = argv[i++];
    if (hex && !parse_hex(pattern.c_str(), &pattern)) {
        fprintf(stderr, "kqhelp search: --hex wants pairs of hex digits\n");
        return EXIT_USAGE;
    }
    if (pattern.empty() || pattern.size() > 255) {
        fprintf(stderr, "kqhelp search: the pattern must be 1 to 255 bytes\n");
        return EXIT_USAGE;
    }
    const int slot = scrambled ? (nocase ? SLOT_SEARCH_BUFFER_SCRAMBLED_NOCASE : SLOT_SEARCH_BUFFER_SCRAMBLED)
                               : (nocase ? SLOT_SEARCH_BUFFER_NOCASE : SLOT_SEARCH_BUFFER);
    auto search = t.slot<search_buffer_fn>(slot);
    int status = EXIT_OK;
    for (; i < argc; i++) {
        uint32_t handle = 0;
        scan_file *file = t.open(argv[i], &handle);
        if (!file) {
            status = EXIT_FILE_ERROR;
            continue;
        }
        if (!search_file(t, search, pattern, argv[i], file, handle)) status = EXIT_FILE_ERROR;
        if (!t.close(file, handle)) status = EXIT_FILE_ERROR;
    }
    return status;
}

}  // namespace kqtool
