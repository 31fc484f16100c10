// The pe_reader: lazy creation, the load-once cache slots, and release.
#include "pe/pe_reader.h"

#include <string.h>

#include "module/attached_data.h"
#include "module/host_calls.h"
#include "pe/region_cache.h"

namespace kq {

pe_reader *pe_reader_get(scan_file *file) {
    void *block = nullptr;
    int32_t found = attached_data_find(file, ATTACHED_PE_READER, &block);
    if (found == kAttachedOk || found == kAttachedFoundEmpty) return static_cast<pe_reader *>(block);
    if (found != kAttachedNotFound) return nullptr;
    block = host_of(file).alloc(sizeof(pe_reader));
    if (!block) return nullptr;
    memset(block, 0, sizeof(pe_reader));
    if (attached_data_add(file, ATTACHED_PE_READER, block) != kAttachedOk) {
        // Held by nobody: release it rather than hand out an orphan.
        pe_reader_release(file, block);
        return nullptr;
    }
    return static_cast<pe_reader *>(block);
}

namespace {

uint8_t *remember(pe_cache_slot *slot, uint8_t *value) {
    slot->value = value;
    slot->state = value ? kLoadPresent : kLoadFailed;
    return value;
}

}  // namespace

uint8_t *pe_cache_get(scan_file *file, pe_cache_slot *slot, pe_loader loader) {
    if (!file || !slot || !loader) return nullptr;
    if (slot->state == kLoadNotTried) return remember(slot, loader(file));
    return slot->state == kLoadPresent ? slot->value : nullptr;
}

uint8_t *pe_cache_get(scan_file *file, pe_cache_slot *slot, pe_table_loader loader, uint32_t *count_out) {
    if (!file || !slot || !loader) return nullptr;
    if (slot->state == kLoadNotTried) {
        uint8_t *value = nullptr;
        if (count_out) {
            value = loader(file, count_out);
            slot->count = *count_out;
        } else {
            uint32_t ignored = 0;
            value = loader(file, &ignored);
        }
        return remember(slot, value);
    }
    if (slot->state != kLoadPresent) return nullptr;
    if (count_out) *count_out = slot->count;
    return slot->value;
}

int32_t pe_reader_release(scan_file *file, void *block) {
    if (!file || !block) return 0;
    auto *reader = static_cast<pe_reader *>(block);
    host_ref host = host_of(file);
    pe_cache_slot *slots[] = {&reader->dos_header, &reader->nt_headers32, &reader->sections32,
                              &reader->ne_header,  &reader->nt_headers64, &reader->sections64};
    for (pe_cache_slot *slot : slots) host.free(slot->value);
    host.free(reader);
    return 0;
}

}  // namespace kq
