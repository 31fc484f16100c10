// Slot 4: the head and tail regions of a file, read once per scan_file.
#include "pe/region_cache.h"

#include <string.h>

#include "module/attached_data.h"
#include "module/host_calls.h"
#include "module/slots.h"

namespace kq {

region_cache *region_cache_lookup(scan_file *file, bool create, bool *created, cache_allocation how) {
    *created = false;
    void *block = nullptr;
    int32_t found = attached_data_find(file, ATTACHED_REGION_CACHE, &block);
    if (found == kAttachedOk) return static_cast<region_cache *>(block);
    if (found != kAttachedNotFound || !create) return nullptr;
    if (how == cache_allocation::zeroed) {
        block = host_of(file).alloc_zeroed(sizeof(region_cache));
    } else {
        block = host_of(file).alloc(sizeof(region_cache));
        if (block) memset(block, 0, sizeof(region_cache));
    }
    if (!block) return nullptr;
    *created = true;
    return static_cast<region_cache *>(block);
}

bool region_cache_attach(scan_file *file, region_cache *cache) {
    if (attached_data_add(file, ATTACHED_REGION_CACHE, cache) == kAttachedOk) return true;
    region_cache_release(file, cache);
    return false;
}

int32_t region_cache_release(scan_file *file, void *block) {
    if (!file || !block) return 0;
    auto *cache = static_cast<region_cache *>(block);
    host_ref host = host_of(file);
    host.free(cache->head.data);
    host.free(cache->tail.data);
    for (window_entry &w : cache->windows) host.free(w.data);
    host.free(cache);
    return 0;
}

namespace {

// Reads the head (from 0) or the tail (the last 20480 bytes) into the entry.
// Seek and read results are not consulted: only the count read decides.
void load_region(scan_file *file, region_entry &entry, bool tail) {
    host_ref host = host_of(file);
    entry.data = static_cast<uint8_t *>(host.alloc_zeroed(REGION_BUFFER_SIZE));
    uint64_t got = 0;
    if (entry.data) {
        uint64_t start = (tail && file->size >= REGION_SIZE) ? file->size - REGION_SIZE : 0;
        host.seek(file->handle, start);
        host.read(file->handle, entry.data, REGION_SIZE, &got);
        if (got > REGION_SIZE) got = 0;  // a host that claims more than asked is not believed
    }
    if (got == 0) {
        host.free(entry.data);
        entry.data = nullptr;
        entry.size = 0;
        entry.state = kLoadFailed;
        return;
    }
    entry.size = got;
    entry.state = kLoadPresent;
}

}  // namespace
}  // namespace kq

extern "C" const uint8_t *file_get_region(scan_file *file, int32_t kind, uint64_t *size_out) {
    using namespace kq;
    if (size_out) *size_out = 0;
    if (!file) return nullptr;
    if (kind != REGION_HEAD && kind != REGION_TAIL && kind != REGION_HEAD_IF_LOADED && kind != REGION_TAIL_IF_LOADED)
        return nullptr;
    bool if_loaded = kind == REGION_HEAD_IF_LOADED || kind == REGION_TAIL_IF_LOADED;
    bool created = false;
    region_cache *cache = region_cache_lookup(file, !if_loaded, &created);
    if (!cache) return nullptr;
    bool tail = kind == REGION_TAIL || kind == REGION_TAIL_IF_LOADED;
    region_entry &entry = tail ? cache->tail : cache->head;
    if (if_loaded && entry.size == 0) return nullptr;
    if (entry.state == kLoadNotTried) load_region(file, entry, tail);
    if (size_out) *size_out = entry.size;
    const uint8_t *data = entry.data;
    if (created && !region_cache_attach(file, cache)) {
        // Nobody would own the buffer: answer as a failed load instead.
        if (size_out) *size_out = 0;
        return nullptr;
    }
    return data;
}
