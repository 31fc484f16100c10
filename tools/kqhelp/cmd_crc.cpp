// kqhelp crc: the standard CRC-32 (as crc32 and rhash print it: hex) and the
// raw CRC-16 register from 0 of each file or region, then its length.
#include <inttypes.h>

#include "commands.h"
#include "file_checksum.h"

namespace kqtool {
namespace {

int run(tool &t, const arguments &a) {
    const bool only16 = a.has("--crc16") && !a.has("--crc32");
    const bool only32 = a.has("--crc32") && !a.has("--crc16");
    const bool want32 = !only16, want16 = !only32;
    region r;
    if (!parse_region(a, &r)) return EXIT_USAGE;
    t.for_each_file(a, [&](const char *path, scan_file *file, uint32_t handle) {
        checksums c;
        if (!checksum_file(t, path, file, handle, r, want32, want16, &c)) return;
        if (t.json) {
            json j = record(t, path);
            if (want32) j.hex("crc32", c.crc32);
            if (want16) j.hex("crc16", c.crc16);
            t.emit(j.hex("offset", c.offset).num("length", c.length).text());
            return;
        }
        if (want32) printf("%08" PRIx32 " ", c.crc32);
        if (want16) printf("%04" PRIx32 " ", c.crc16);
        printf("%" PRIu64 " %s\n", c.length, shown(path).c_str());
    });
    return EXIT_OK;
}

constexpr option options[] = {{"--crc32", nullptr, "the CRC-32 only"},
                              {"--crc16", nullptr, "the CRC-16 only"},
                              {"--offset", "N", "start at byte N (default 0)"},
                              {"--length", "N", "N bytes (default: to the end)"},
                              {nullptr, nullptr, nullptr}};

}  // namespace

extern const command cmd_crc = {"crc", "FILE...", "CRC-32 and CRC-16 in hex, then the length, of each file",
                                options, 1, -1, outcome::report, run};

}  // namespace kqtool
