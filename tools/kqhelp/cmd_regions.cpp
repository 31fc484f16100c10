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
    int status = EXIT_OK;
    for (int i = 1; i < argc; i++) {
        uint32_t handle = 0;
        scan_file *file = t.open(argv[i], &handle);
        if (!file) {
            status = EXIT_FILE_ERROR;
            continue;
        }
        uint64_t head = 0, tail = 0;
        get_region(file, REGION_HEAD, &head);
        get_region(file, REGION_TAIL, &tail);
        printf("%s: size %" PRIu64 ", head %" PRIu64 ", tail %" PRIu64 "\n", argv[i], file->size, head, tail);
        if (!t.close(file, handle)) status = EXIT_FILE_ERROR;
    }
    return status;
}

}  // namespace kqtool
