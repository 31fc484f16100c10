// Typed data blocks hung on a scan_file: one node per type, new nodes at the head.
#pragma once

#include "kqhelp/module.h"

namespace kq {

// Results of the attached-data operations.
inline constexpr int32_t kAttachedOk = 0;
inline constexpr int32_t kAttachedNotFound = 1;
inline constexpr int32_t kAttachedFoundEmpty = 2;
inline constexpr int32_t kAttachedBadArgument = 3;
inline constexpr int32_t kAttachedAlreadyPresent = 4;

int32_t attached_data_add(scan_file *file, uint32_t type, void *data);
int32_t attached_data_find(scan_file *file, uint32_t type, void **out);
int32_t attached_data_remove(scan_file *file, uint32_t type);
int32_t attached_data_clear(scan_file *file);
int32_t attached_data_release(scan_file *file, uint32_t type, void *data);

}  // namespace kq

namespace kq {

// Release operations of the three attached types; each frees what the block
// owns, then the block, and returns 0.
int32_t pe_reader_release(scan_file *file, void *reader);
int32_t elf_attachment_release(scan_file *file, void *attachment);
int32_t region_cache_release(scan_file *file, void *cache);

}  // namespace kq
