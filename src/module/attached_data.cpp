// Attached data: a singly linked list of typed blocks on a scan_file.
#include "module/attached_data.h"

#include "module/host_calls.h"

namespace kq {

int32_t attached_data_add(scan_file *file, uint32_t type, void *data) {
    if (!file) return kAttachedBadArgument;
    for (attached_data *n = file->attached; n; n = n->next)
        if (n->type == type) return kAttachedAlreadyPresent;
    auto *node = static_cast<attached_data *>(host_of(file).alloc(sizeof(attached_data)));
    if (!node) return kAttachedBadArgument;
    node->type = type;
    node->data = data;
    node->next = file->attached;
    file->attached = node;
    return kAttachedOk;
}

int32_t attached_data_find(scan_file *file, uint32_t type, void **out) {
    if (!file || !out) return kAttachedBadArgument;
    *out = nullptr;
    for (attached_data *n = file->attached; n; n = n->next) {
        if (n->type != type) continue;
        if (!n->data) return kAttachedFoundEmpty;
        *out = n->data;
        return kAttachedOk;
    }
    return kAttachedNotFound;
}

int32_t attached_data_remove(scan_file *file, uint32_t type) {
    if (!file) return 0;
    for (attached_data **link = &file->attached; *link; link = &(*link)->next) {
        attached_data *node = *link;
        if (node->type != type) continue;
        if (node->data) attached_data_release(file, node->type, node->data);
        *link = node->next;
        host_of(file).free(node);
        break;
    }
    return 0;
}

int32_t attached_data_clear(scan_file *file) {
    if (!file) return kAttachedBadArgument;
    while (attached_data *node = file->attached) {
        if (node->data) attached_data_release(file, node->type, node->data);
        file->attached = node->next;
        host_of(file).free(node);
    }
    return 0;
}

int32_t attached_data_release(scan_file *file, uint32_t type, void *data) {
    if (!file || !data) return 0;
    switch (type) {
    case ATTACHED_PE_READER: return pe_reader_release(file, data);
    case ATTACHED_ELF: return elf_attachment_release(file, data);
    case ATTACHED_REGION_CACHE: return region_cache_release(file, data);
    default: return -1;
    }
}

}  // namespace kq
