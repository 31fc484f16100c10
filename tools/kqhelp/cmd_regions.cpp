// kqhelp regions: the head and tail region sizes of each file.
#include <inttypes.h>

#include "commands.h"

namespace kqtool {
namespace {

int run(tool &t, const arguments &a) {
    t.for_each_file(a, [&](const char *path, scan_file *file, uint32_t) {
        uint64_t head = 0, tail = 0;
        t.call<SLOT_FILE_GET_REGION>(file, REGION_HEAD, &head);
        t.call<SLOT_FILE_GET_REGION>(file, REGION_TAIL, &tail);
        if (t.json)
            t.emit(record(t, path).num("size", file->size).num("head", head).num("tail", tail).text());
        else
            printf("%s: size %" PRIu64 ", head %" PRIu64 ", tail %" PRIu64 "\n", shown(path).c_str(), file->size,
                   head, tail);
    });
    return EXIT_OK;
}

}  // namespace

extern const command cmd_regions = {"regions", "FILE...", "head and tail region sizes of each file", nullptr, 1, -1,
                                    outcome::report, run};

}  // namespace kqtool
