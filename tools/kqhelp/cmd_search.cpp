// kqhelp search: every offset at which a pattern occurs in each file, found
// with the module's search slots over successive regions of the file.
#include <inttypes.h>
#include <string.h>

#include <string>
#include <vector>

#include "commands.h"

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

// Reports every match; the file is read in pieces that overlap by m - 1
// bytes, so a match across a piece boundary is whole in the later piece.
void search_file(tool &t, search_buffer_fn search, const std::string &pattern, const char *path, scan_file *file,
                 uint32_t handle) {
    const auto m = static_cast<int32_t>(pattern.size());
    const auto *x = reinterpret_cast<const uint8_t *>(pattern.data());
    std::vector<uint8_t> buffer(kChunk);
    for (uint64_t base = 0; base < file->size && file->size - base >= uint64_t(m);) {
        const auto filled = static_cast<int32_t>(std::min<uint64_t>(kChunk, file->size - base));
        if (!t.read_at(file, handle, base, buffer.data(), uint64_t(filled))) {
            t.fail(path, "read failed at offset %" PRIu64, base);
            return;
        }
        for (int32_t from = 0; filled - from >= m;) {
            const int32_t r = search(file->ctx, file->instance, buffer.data(), x, m, from, filled - from);
            if (r == SEARCH_NOT_FOUND) break;
            if (r < 0) {
                t.fail(path, "search failed (%d)", r);
                return;
            }
            const uint64_t at = base + uint64_t(from + r);
            t.found();
            if (t.json) t.emit(record(t, path).hex("offset", at).text());
            else printf("%s: %" PRIu64 "\n", shown(path).c_str(), at);
            from += r + 1;
        }
        if (base + uint64_t(filled) >= file->size) break;
        base += uint64_t(filled - (m - 1));
    }
}

int run(tool &t, const arguments &a) {
    std::string pattern = a.operands[0];
    if (a.has("--hex") && !parse_hex(pattern.c_str(), &pattern)) {
        fprintf(stderr, "kqhelp search: --hex wants pairs of hex digits\n");
        return EXIT_USAGE;
    }
    if (pattern.empty() || pattern.size() > 255) {
        fprintf(stderr, "kqhelp search: the pattern must be 1 to 255 bytes\n");
        return EXIT_USAGE;
    }
    const bool nocase = a.has("-i"), scrambled = a.has("--scrambled");
    const search_buffer_fn slot =
        scrambled ? (nocase ? kqhelp::slot<SLOT_SEARCH_BUFFER_SCRAMBLED_NOCASE>(t.api)
                            : kqhelp::slot<SLOT_SEARCH_BUFFER_SCRAMBLED>(t.api))
                  : (nocase ? kqhelp::slot<SLOT_SEARCH_BUFFER_NOCASE>(t.api) : kqhelp::slot<SLOT_SEARCH_BUFFER>(t.api));
    arguments files = a;
    files.operands.erase(files.operands.begin());
    t.for_each_file(files, [&](const char *path, scan_file *file, uint32_t handle) {
        search_file(t, slot, pattern, path, file, handle);
    });
    return EXIT_OK;
}

constexpr option options[] = {{"-i", nullptr, "ignore ASCII case"},
                              {"--scrambled", nullptr, "PATTERN is stored scrambled (every byte XOR 0x2F)"},
                              {"--hex", nullptr, "PATTERN is pairs of hex digits"},
                              {nullptr, nullptr, nullptr}};

}  // namespace

extern const command cmd_search = {"search", "PATTERN FILE...", "every match offset of a pattern (1-255 bytes)",
                                   options, 2, -1, outcome::predicate, run};

}  // namespace kqtool
