// kqhelp known: which files match a known-file list ("size offset length
// crc32" per line), served to the module by the reference host; or, with
// --make, the list line that makes a file known.
#include <inttypes.h>

#include "file_checksum.h"
#include "commands.h"

namespace kqtool {
namespace {

int run(tool &t, const arguments &a) {
    const char *list = a.value("--list");
    if (a.has("--make") == (list != nullptr)) {
        fprintf(stderr, "kqhelp known: give either --list LIST or --make\n");
        return EXIT_USAGE;
    }
    if (list && kqhost_load_size_list(t.host, list) != 0) {
        fprintf(stderr, "kqhelp: %s\n", shown(kqhost_last_error(t.host)).c_str());
        return EXIT_USAGE;
    }
    region r;
    if (!parse_region(a, &r)) return EXIT_USAGE;
    t.for_each_file(a, [&](const char *path, scan_file *file, uint32_t handle) {
        if (list) {
            const bool known = t.call<SLOT_KNOWN_FILE_MATCH>(file) != 0;
            if (known) t.found();
            if (t.json) t.emit(record(t, path).flag("known", known).text());
            else printf("%s: %s\n", shown(path).c_str(), known ? "known" : "not known");
            return;
        }
        checksums c;
        if (!checksum_file(t, path, file, handle, r, true, false, &c)) return;
        if (file->size > UINT32_MAX || c.offset > UINT32_MAX || c.length > UINT32_MAX) {
            t.fail(path, "a known-file list holds 32-bit sizes, offsets and lengths only");
            return;
        }
        t.found();
        char line[96];
        snprintf(line, sizeof line, "%" PRIu64 " %" PRIu64 " %" PRIu64 " 0x%08" PRIx32, file->size, c.offset,
                 c.length, c.crc32);
        if (t.json) t.emit(record(t, path).str("entry", line).text());
        else printf("%s  # %s\n", line, shown(path).c_str());
    });
    return EXIT_OK;
}

constexpr option options[] = {
    {"--list", "LIST", "the list: one \"size offset length crc32\" a line, '#' comments"},
    {"--make", nullptr, "print the list line for each file instead"},
    {"--offset", "N", "with --make: the region starts at N (default 0)"},
    {"--length", "N", "with --make: the region is N bytes (default: to the end)"},
    {nullptr, nullptr, nullptr}};

}  // namespace

extern const command cmd_known = {"known", "FILE...", "which files match a known-file list, or their list lines",
                                  options, 1, -1, outcome::predicate, run};

}  // namespace kqtool
