// The region cache: the head and tail of a file and one window per window
// kind, each read at most once into a 20484-byte buffer owned by the cache.
#pragma once

#include "kqhelp/kqhelp.h"

namespace kq {

// Load states of the region and window entries.
inline constexpr uint8_t kLoadNotTried = 0;
inline constexpr uint8_t kLoadPresent = 1;
inline constexpr uint8_t kLoadFailed = 2;

struct region_entry {
    uint8_t *data;  // null before the first load and after a failed one
    uint64_t size;  // bytes read (1 to 20480 when loaded)
    uint8_t state;  // kLoad*
};

struct window_entry {
    uint8_t *data;
    uint64_t size;    // bytes read by the last successful load
    int64_t offset;   // offset asked for by the last successful load
    uint8_t state;    // kLoad*; kLoadFailed means the last load failed
};

// Where a window kind takes its offset from.
enum class window_offset : uint8_t { given, entry_raw, entry_aligned };

// The window kinds of slot 5, one row each; a kind's cache entry is its row,
// so the entries are kept in the order of kinds 3, 4, 6, 8, 7, 9.
struct window_kind {
    int32_t kind;
    bool around;  // the window starts WINDOW_BEFORE bytes before the offset
    window_offset offset;
};
inline constexpr window_kind kWindowKinds[] = {
    {REGION_AT_OFFSET, false, window_offset::given},
    {REGION_AROUND_OFFSET, true, window_offset::given},
    {REGION_AT_ENTRY_RAW, false, window_offset::entry_raw},
    {REGION_AROUND_ENTRY_RAW, true, window_offset::entry_raw},
    {REGION_AT_ENTRY, false, window_offset::entry_aligned},
    {REGION_AROUND_ENTRY, true, window_offset::entry_aligned},
};
inline constexpr uint32_t kWindowKindCount = sizeof kWindowKinds / sizeof kWindowKinds[0];

struct region_cache {
    region_entry head;
    region_entry tail;
    window_entry windows[kWindowKindCount];  // one per row of kWindowKinds
};

// How a new cache block is obtained: the region slot asks the host for a
// zeroed block, the window slot for a plain one that it clears itself.
enum class cache_allocation : uint8_t { zeroed, alloc_and_clear };

// The file's region cache; created (zero-filled) on demand when create is
// true. *created tells whether this call made it; the caller attaches it.
region_cache *region_cache_lookup(scan_file *file, bool create, bool *created,
                                  cache_allocation how = cache_allocation::zeroed);

// Attach a cache made by region_cache_lookup. When the add fails the cache
// would be held by nobody, so it is released at once and false returned.
bool region_cache_attach(scan_file *file, region_cache *cache);

}  // namespace kq
