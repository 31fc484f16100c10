// The subcommand table. A subcommand is one file defining its cmd_* function;
// the ones not linked into this build are left out of the table.
#include "commands.h"

#define KQ_COMMANDS(X)                                                                                    \
    X(info, "", "identity record, ABI version, dependencies and a check of the table")                   \
    X(regions, "FILE...", "head and tail region sizes of each file")                                      \
    X(elf, "[--json] [--translate ADDR] FILE...", "ELF header, sections, program headers, image base")   \
    X(pe, "[--json] FILE...", "MS-DOS/NT headers, sections, entry points and overlay of PE files")        \
    X(window, "KIND OFFSET FILE", "size and position of a 20480-byte window")                           \
    X(search, "[-i] [--scrambled] [--hex] PATTERN FILE...", "every match offset of a pattern")           \
    X(crc, "FILE...", "CRC-32 (cksum style) and raw CRC-16 of each file")                                 \
    X(known, "--list LIST FILE...", "which files match the known-file list")                             \
    X(xor, "[--json] [--decode OUT] FILE...", "executables hidden by XOR, addition or widening")         \
    X(name, "NAME...", "whether each detection name has a category prefix")                               \
    X(ext, "EXT...", "whether each extension is on the executable and document lists")                    \
    X(inflate, "[--raw-size N] FILE", "decompress a zlib stream to stdout")

namespace kqtool {

#define KQ_DECLARE(name, usage, summary) int cmd_##name(tool &, int, char **) __attribute__((weak));
KQ_COMMANDS(KQ_DECLARE)

const command *commands(size_t *count) {
#define KQ_ENTRY(name, usage, summary) {#name, usage, summary, cmd_##name},
    static const command all[] = {KQ_COMMANDS(KQ_ENTRY)};
    static command present[sizeof all / sizeof all[0]];
    static size_t n = 0;
    if (n == 0)
        for (const command &c : all)
            if (c.run) present[n++] = c;
    *count = n;
    return present;
}

}  // namespace kqtool
