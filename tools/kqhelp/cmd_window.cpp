// kqhelp window KIND OFFSET FILE: the size of a 20480-byte window and the
// position of the offset's byte in it.
#include <errno.h>
#include <inttypes.h>
#include <stdlib.h>
#include <string.h>

#include "commands.h"

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

int run(tool &t, const arguments &a) {
    int32_t kind = 0;
    int64_t offset = 0;
    if (!parse_kind(a.operands[0], &kind) || !parse_offset(a.operands[1], &offset)) return EXIT_USAGE;
    const char *path = a.operands[2];
    uint32_t handle = 0;
    scan_file *file = t.open(path, &handle);
    if (!file) return EXIT_OK;
    uint64_t size = 0, position = 0;
    if (!t.call<SLOT_FILE_GET_WINDOW>(file, kind, offset, &size, &position))
        t.fail(path, "no window of kind %d at offset %" PRId64, kind, offset);
    else if (t.json)
        t.emit(record(t, path).num("kind", uint32_t(kind)).str("offset", std::to_string(offset)).num("size", size)
                   .num("position", position).text());
    else
        printf("%s: kind %d offset %" PRId64 ": size %" PRIu64 ", position %" PRIu64 "\n", shown(path).c_str(), kind,
               offset, size, position);
    t.close(file, handle);
    return EXIT_OK;
}

}  // namespace

extern const command cmd_window = {
    "window", "KIND OFFSET FILE",
    "size and position of a 20480-byte window", nullptr, 3, 3, outcome::report, run,
    "KIND: at-offset (3), around-offset (4), at-entry-raw (6), at-entry (7), around-entry-raw (8) or\n"
    "around-entry (9); OFFSET -1 is the entry point."};

}  // namespace kqtool
