// kqhelp crc: the standard CRC-32 of each file in cksum's layout
// ("CRC SIZE"), the raw CRC-16 register from 0, and the name.
#include <inttypes.h>

#include <vector>

#include "file_reader.h"
#include "tool.h"

namespace kqtool {

int cmd_crc(tool &t, int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: kqhelp crc FILE...\n");
        return EXIT_USAGE;
    }
    auto crc32 = t.slot<crc32_update_fn>(SLOT_CRC32_UPDATE);
    auto crc16 = t.slot<crc16_update_fn>(SLOT_CRC16_UPDATE);
    std::vector<uint8_t> buffer;
    return t.for_each_file(argc - 1, argv + 1, [&](const char *path, scan_file *file, uint32_t handle) {
        uint32_t r32 = 0xFFFFFFFFu, r16 = 0;
        uint64_t size = 0;
        bool ok = rewind_file(file, handle);
        while (ok) {
            buffer.clear();
            uint64_t n = read_more(file, handle, buffer, 1 << 20);
            if (!n) break;
            r32 = crc32(r32, buffer.data(), static_cast<uint32_t>(n));
            r16 = crc16(r16, buffer.data(), static_cast<uint32_t>(n));
            size += n;
        }
        if (!ok || size != file->size) {
            t.error(path, "read %" PRIu64 " of %" PRIu64 " bytes", size, file->size);
            return false;
        }
        printf("%" PRIu32 " %" PRIu64 " 0x%04" PRIx32 " %s\n", ~r32, size, r16, path);
        return true;
    });
}

}  // namespace kqtool
