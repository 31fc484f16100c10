// kqhelp regions: the head and tail region sizes of each file.
#include <inttypes.h>

#include "tool.h"

namespace kqtool {

int cmd_regions(tool &t, int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: kqhelp regions FILE...\n");
        return EXIT_USAGE;
    }
    auto get_region = t.slot<file_get_region_fn>(SLOT_FILE_GET_REGION);
    return t.for_each_file(argc - 1, argv + 1, [&](const char *path, scan_file *file, uint32_t) {
        uint64_t head = 0, tail = 0;
        get_region(file, REGION_HEAD, &head);
        get_region(file, REGION_TAIL, &tail);
        printf("%s: size %" PRIu64 ", head %" PRIu64 ", tail %" PRIu64 "\n", path, file->size, head, tail);
        return true;
    });
}

}  // namespace kqtool
