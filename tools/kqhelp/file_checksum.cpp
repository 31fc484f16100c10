#include "file_checksum.h"

#include <inttypes.h>

#include <memory>

namespace kqtool {

bool parse_region(const arguments &a, region *r) {
    const char *offset = a.value("--offset"), *length = a.value("--length");
    if ((offset && !parse_u64(offset, &r->offset)) || (length && !parse_u64(length, &r->length))) {
        fputs("kqhelp: --offset and --length take a number\n", stderr);
        return false;
    }
    r->to_end = !length;
    return true;
}

bool checksum_file(const tool &t, const char *path, scan_file *file, uint32_t handle, const region &r, bool crc32,
                   bool crc16, checksums *out) {
    if (r.offset > file->size || (!r.to_end && r.length > file->size - r.offset)) {
        t.fail(path, "the region passes the end of the file (%" PRIu64 " bytes)", file->size);
        return false;
    }
    constexpr uint32_t piece = 1 << 18;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[piece]);
    out->offset = r.offset;
    out->length = r.to_end ? file->size - r.offset : r.length;
    uint32_t r32 = 0xFFFFFFFFu, r16 = 0;
    for (uint64_t done = 0; done < out->length;) {
        const uint32_t n = uint32_t(std::min<uint64_t>(piece, out->length - done));
        if (!t.read_at(file, handle, r.offset + done, buffer.get(), n)) {
            t.fail(path, "read failed at offset %" PRIu64, r.offset + done);
            return false;
        }
        if (crc32) r32 = t.call<SLOT_CRC32_UPDATE>(r32, buffer.get(), n);
        if (crc16) r16 = t.call<SLOT_CRC16_UPDATE>(r16, buffer.get(), n);
        done += n;
    }
    out->crc32 = ~r32;
    out->crc16 = r16;
    return true;
}

}  // namespace kqtool
