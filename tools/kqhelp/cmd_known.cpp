// kqhelp known: which files match a known-file list ("size offset length
// crc32" per line), served to the module by the reference host.
#include <string.h>

#include "tool.h"

namespace kqtool {

int cmd_known(tool &t, int argc, char **argv) {
    if (argc < 4 || strcmp(argv[1], "--list") != 0) {
        fprintf(stderr, "usage: kqhelp known --list LIST FILE...\n");
        return EXIT_USAGE;
    }
    if (kqhost_load_size_list(t.host, argv[2]) != 0) {
        fprintf(stderr, "kqhelp: %s\n", kqhost_last_error(t.host));
        return EXIT_USAGE;
    }
    auto match = t.slot<known_file_match_fn>(SLOT_KNOWN_FILE_MATCH);
    return t.for_each_file(argc - 3, argv + 3, [&](const char *path, scan_file *file, uint32_t) {
        printf("%s: %s\n", path, match(file) ? "known" : "not known");
        return true;
    });
}

}  // namespace kqtool
