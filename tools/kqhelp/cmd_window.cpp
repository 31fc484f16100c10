// kqhelp window KIND OFFSET FILE: the size of a 20480-byte window and the
// position of the offset's byte in it.
#include <errno.h>
#include <inttypes.h>
#include <stdlib.h>
#include <string.h>

#include "tool.h"

namespace kqtool {
namespace {

struct kind_name {
    const char *name;
    int32_t kind;
};

constexpr kind_name KINDS[] = {{"at-offset", REGION_AT_OFFSET},         {"around-offset", REGION_AROUND_OFFSET},
                               {"at-entry-raw", REGION_AT_ENTRY_RAW},   {"at-entry", REGION_AT_ENTRY},
                               {"around-entry-raw", REGION_AROUND_ENTRY_RAW}, {"around-entry", REGION_AROUND_ENTRY}};

// A kind by name or by number (any number: the module rejects the bad ones).
bool parse_kind(const char *text, int32_t *kind) {
    for (const kind_name &k : KINDS)
        if (strcmp(text, k.name) == 0) {
            *kind = k.kind;
            return true;
        }
    char *end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 0);
    if (!*text || *end || errno || v < INT32_MIN || v > INT32_MAX) return false;
    *kind = int32_t(v);
    return true;
}

// A signed offset in decimal or 0x hex; -1 means "the entry point".
bool parse_offset(const char *text, int64_t *offset) {
    bool negative = *text == '-';
    uint64_t magnitude = 0;
    if (!parse_u64(negative ? text + 1 : text, &magnitude) || magnitude > uint64_t(INT64_MAX)) return false;
    *offset = negative ? -int64_t(magnitude) : int64_t(magnitude);
    return true;
}

}  // namespace

int cmd_window(tool &t, int argc, char **argv) {
    int32_t kind = 0;
    int64_t offset = 0;
    if (argc != 4 || !parse_kind(argv[1], &kind) || !parse_offset(argv[2], &offset)) {
        fprintf(stderr,
                "usage: kqhelp window KIND OFFSET FILE\n"
                "  KIND: at-offset (3), around-offset (4), at-entry-raw (6), at-entry (7),\n"
                "        around-entry-raw (8), around-entry (9); OFFSET -1 means the entry point\n");
        return EXIT_USAGE;
    }
    uint32_t handle = 0;
    scan_file *file = t.open(argv[3], &handle);
    if (!file) return EXIT_FILE_ERROR;
    uint64_t size = 0, position = 0;
    const uint8_t *data =
        t.slot<file_get_window_fn>(SLOT_FILE_GET_WINDOW)(file, kind, offset, &size, &position);
    int status = EXIT_OK;
    if (data) {
        printf("%s: kind %d offset %" PRId64 ": size %" PRIu64 ", position %" PRIu64 "\n", argv[3], kind, offset,
               size, position);
    } else {
        t.error(argv[3], "no window of kind %d at offset %" PRId64, kind, offset);
        status = EXIT_FILE_ERROR;
    }
    if (!t.close(file, handle)) status = EXIT_FILE_ERROR;
    return status;
}

}  // namespace kqtool
