// The region cache: the head and tail of a file and one window per window
// kind, each read at most once into a 20484-byte buffer owned by the cache.
#pragma once

#include "kqhelp/kqhelp.h"

namespace kq {

enum load_state : uint8_t { LOAD_NOT_TRIED = 0, LOAD_PRESENT = 1, LOAD_FAILED = 2 };

struct region_entry {
    uint8_t *data;  // null before the first load and after a failed one
    uint64_t size;  // bytes read (1 to 20480 when loaded)
    uint8_t state;  // load_state
};

struct window_entry {
    uint8_t *data;
    uint64_t size;    // bytes read by the last successful load
    int64_t offset;   // offset asked for by the last successful load
    uint8_t state;    // load_state; LOAD_FAILED means the last load failed
};

// Window entries are kept in the order of kinds 3, 4, 6, 8, 7, 9.
enum window_index { WINDOW_AT_OFFSET, WINDOW_AROUND_OFFSET, WINDOW_AT_ENTRY_RAW, WINDOW_AROUND_ENTRY_RAW,
                    WINDOW_AT_ENTRY, WINDOW_AROUND_ENTRY, WINDOW_COUNT };

struct region_cache {
    region_entry head;
    region_entry tail;
    window_entry windows[WINDOW_COUNT];
};

// How a new cache block is obtained: the region slot asks the host for a
// zeroed block, the window slot for a plain one that it clears itself.
enum cache_allocation { CACHE_ALLOC_ZEROED, CACHE_ALLOC_AND_CLEAR };

// The file's region cache; created (zero-filled) on demand when create is
// true. *created tells whether this call made it; the caller attaches it.
region_cache *region_cache_lookup(scan_file *file, bool create, bool *created,
                                  cache_allocation how = CACHE_ALLOC_ZEROED);

// Attach a cache made by region_cache_lookup. When the add fails the cache
// would be held by nobody, so it is released at once and false returned.
bool region_cache_attach(scan_file *file, region_cache *cache);

}  // namespace kq
