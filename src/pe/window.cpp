// Slot 5: 20480-byte windows at or around an offset or the PE32 entry point.
// Each kind owns one buffer in the region cache; a request for the offset it
// holds is answered without reading, and requests that land on the head or
// tail region are answered from those.
#include "module/slots.h"
#include "pe/pe_entry.h"
#include "pe/pe_format.h"
#include "pe/region_cache.h"

namespace kq {
namespace {

// The row of a kind, or null for a kind that is not a window.
const window_kind *row_of(int32_t kind) {
    for (const window_kind &row : kWindowKinds)
        if (row.kind == kind) return &row;
    return nullptr;
}

// The row that takes its offset from source and is around (or not) like row.
const window_kind *row_like(const window_kind *row, window_offset source) {
    for (const window_kind &other : kWindowKinds)
        if (other.around == row->around && other.offset == source) return &other;
    return row;
}

// Requests for the entry point are redirected to the kind that caches those
// bytes, so the same stretch is read once.
const window_kind *redirect(const window_kind *row, int64_t offset, int64_t raw, int64_t aligned) {
    if (raw == aligned && row->offset == window_offset::entry_raw) row = row_like(row, window_offset::entry_aligned);
    if (row->offset != window_offset::given) return row;
    if (aligned != -1 && (offset == aligned || offset == -1)) return row_like(row, window_offset::entry_aligned);
    if (raw != -1 && offset == raw) return row_like(row, window_offset::entry_raw);
    return row;
}

int64_t offset_used(const window_kind *row, int64_t offset, int64_t raw, int64_t aligned) {
    switch (row->offset) {
    case window_offset::given: return offset == -1 ? aligned : offset;
    case window_offset::entry_raw: return raw;
    case window_offset::entry_aligned: return aligned;
    }
    return -1;
}

const uint8_t *fail(scan_file *file, window_entry *entry, uint64_t *size_out) {
    if (entry) {
        host_of(file).free(entry->data);
        entry->data = nullptr;
        entry->size = 0;
        entry->state = kLoadFailed;  // the recorded offset stays
    }
    *size_out = 0;
    return nullptr;
}

// Reads 20480 bytes from start into the entry's buffer (kept across loads).
// Only the count read decides success.
const uint8_t *load(scan_file *file, window_entry *entry, int64_t start, int64_t recorded, uint64_t *size_out) {
    host_ref host = host_of(file);
    if (!entry->data) {
        entry->data = static_cast<uint8_t *>(host.alloc_zeroed(REGION_BUFFER_SIZE));
        if (!entry->data) return fail(file, entry, size_out);
    }
    uint64_t got = 0;
    host.seek(file->handle, static_cast<uint64_t>(start));
    host.read(file->handle, entry->data, REGION_SIZE, &got);
    if (got == 0 || got > REGION_SIZE) return fail(file, entry, size_out);
    entry->size = got;
    entry->offset = recorded;
    entry->state = kLoadPresent;
    *size_out = got;
    return entry->data;
}

// Only a successful load at the same offset answers without reading; an
// entry whose last load failed loads again.
const uint8_t *answer_or_load(scan_file *file, window_entry *entry, int64_t start, int64_t recorded,
                              uint64_t *size_out) {
    if (entry->state == kLoadPresent && entry->offset == recorded) {
        *size_out = entry->size;
        return entry->data;
    }
    return load(file, entry, start, recorded, size_out);
}

const uint8_t *head_or_tail(scan_file *file, int32_t kind, uint64_t *size_out) {
    auto get_region = self_slot<file_get_region_fn>(file, SLOT_FILE_GET_REGION);
    if (!get_region) return nullptr;
    return get_region(file, kind, size_out);
}

const uint8_t *get_window(scan_file *file, region_cache *cache, int32_t kind, int64_t offset, uint64_t *size_out,
                          uint64_t *position_out) {
    int64_t raw = pe_entry_offset_raw(file);
    int64_t aligned = pe_entry_offset_aligned(file);
    if ((offset == 0 || offset == -1) && raw == -1 && aligned == -1) return fail(file, nullptr, size_out);

    const window_kind *row = row_of(kind);
    if (!row) return fail(file, nullptr, size_out);
    row = redirect(row, offset, raw, aligned);
    window_entry *entry = &cache->windows[row - kWindowKinds];
    int64_t off = offset_used(row, offset, raw, aligned);
    if (off == -1) return fail(file, entry, size_out);

    if (!row->around) {
        *position_out = 0;
        return answer_or_load(file, entry, off, off, size_out);
    }
    // Signed comparisons: an offset below 0 (other than -1) counts as one
    // near the start of the file.
    int64_t size = static_cast<int64_t>(file->size);
    if (off < int64_t{WINDOW_BEFORE} || size < int64_t{REGION_SIZE}) {
        *position_out = static_cast<uint64_t>(off);
        return head_or_tail(file, REGION_HEAD, size_out);
    }
    if (size > int64_t{REGION_SIZE} && off > size - int64_t{WINDOW_BEFORE}) {
        *position_out = static_cast<uint64_t>(int64_t{REGION_SIZE} - (size - off));
        return head_or_tail(file, REGION_TAIL, size_out);
    }
    *position_out = WINDOW_BEFORE;
    return answer_or_load(file, entry, off - int64_t{WINDOW_BEFORE}, off, size_out);
}

}  // namespace
}  // namespace kq

extern "C" const uint8_t *file_get_window(scan_file *file, int32_t kind, int64_t offset, uint64_t *size_out,
                                          uint64_t *position_out) {
    using namespace kq;
    if (size_out) *size_out = 0;
    if (position_out) *position_out = 0;
    if (!file || !size_out || !position_out) return nullptr;
    if (offset > static_cast<int64_t>(file->size)) return nullptr;

    bool created = false;
    region_cache *cache = region_cache_lookup(file, true, &created, cache_allocation::alloc_and_clear);
    if (!cache) return nullptr;
    // Attached at once: the header readers below ask the region slot for the
    // head, which must find this cache rather than make a second one.
    if (created && !region_cache_attach(file, cache)) return nullptr;
    return get_window(file, cache, kind, offset, size_out, position_out);
}
