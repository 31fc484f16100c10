// The known-file match (slot 56): is the file on the host's list of files
// known by size and the CRC-32 of one region? The answer is kept in the
// scan_file so that later calls do not read the file again.
#include "module/host_calls.h"
#include "module/slots.h"

namespace {

inline constexpr uint8_t kKnownUndecided = 0;
inline constexpr uint8_t kKnownNoMatch = 1;
inline constexpr uint8_t kKnownMatch = 2;

inline constexpr uint32_t kMaxEntries = 1000000;
inline constexpr uint64_t kReadBuffer = 65536;
// Setting 3 bits that switch the match off.
inline constexpr uint32_t kSwitchedOff = 0x08u | 0x20u;

struct known_file_entry {
    uint32_t size, offset, length, crc32;
};

enum class region_crc { ok, short_read };

// The standard CRC-32 of length bytes at offset, read in buffer-sized pieces.
// Every read must deliver what was asked for: a file that ends early has no
// such region.
region_crc compute_region_crc(const kq::host_ref &host, uint32_t handle, uint8_t *buffer, uint32_t offset,
                              uint32_t length, uint32_t *out) {
    host.seek(handle, offset);  // a failed seek shows up as a short read
    uint32_t r = 0xFFFFFFFFu;
    uint64_t remaining = length;
    while (remaining) {
        uint64_t want = remaining < kReadBuffer ? remaining : kReadBuffer;
        uint64_t got = 0;
        host.read(handle, buffer, want, &got);  // only the count delivered is judged
        if (got != want) return region_crc::short_read;
        r = crc32_update(r, buffer, static_cast<uint32_t>(want));
        remaining -= want;
    }
    *out = ~r;
    return region_crc::ok;
}

bool switched_off(const scan_file *file) {
    auto *engine = static_cast<const host_engine *>(kq::get_interface(file->ctx, file->instance, HOST_IFACE_ENGINE));
    if (!engine) return false;
    uint32_t flags = 0;
    engine->get_setting(file->ctx, file->instance, HOST_SETTING_KNOWN_FILES, &flags);
    return (flags & kSwitchedOff) != 0;
}

int32_t decide(scan_file *file, uint8_t state) {
    file->known_file_state = state;
    return state == kKnownMatch ? 1 : 0;
}

}  // namespace

extern "C" int32_t known_file_match(scan_file *file) {
    if (!file || !file->ctx || !file->instance) return 0;
    if (!file->size_list_api) return 0;
    // The list is asked for on every call, also when the answer is known.
    const uint32_t *list = nullptr;
    file->size_list_api->get_size_list(file->ctx, file->instance, &list);
    if (file->known_file_state != kKnownUndecided) return file->known_file_state - 1;

    if (switched_off(file)) return decide(file, kKnownNoMatch);
    // Missing resources leave the question open for the next call.
    if (!list || list[0] > kMaxEntries) return 0;
    const kq::host_ref host = kq::host_of(file);
    kq::host_block buffer(host, host.alloc(kReadBuffer));
    if (!buffer) return 0;

    const uint32_t count = list[0];
    const auto *entries = reinterpret_cast<const known_file_entry *>(list + 1);
    const uint32_t size_low = static_cast<uint32_t>(file->size);
    bool have_crc = false;
    uint32_t crc = 0, crc_offset = 0;
    for (uint32_t k = 0; k < count; k++) {
        const known_file_entry &e = entries[k];
        if (e.size != size_low) continue;
        // A region at the same offset is judged by the CRC already computed,
        // whatever its length.
        if (!have_crc || crc_offset != e.offset) {
            if (compute_region_crc(host, file->handle, buffer.get(), e.offset, e.length, &crc) ==
                region_crc::short_read)
                return decide(file, kKnownNoMatch);
            have_crc = true;
            crc_offset = e.offset;
        }
        if (crc == e.crc32) return decide(file, kKnownMatch);
    }
    return decide(file, kKnownNoMatch);
}
