// Attached data: a singly linked list of typed blocks on a scan_file.
#include "module/attached_data.h"

#include "module/host_calls.h"

namespace kq {

int32_t attached_data_add(scan_file *file, uint32_t type, void *data) {
    if (!file) return ATTACHED_BAD_ARGUMENT;
    for (attached_data *n = file->attached; n; n = n->next)
        if (n->type == type) return ATTACHED_ALREADY_PRESENT;
    auto *node = static_cast<attached_data *>(host_of(file).alloc(sizeof(attached_data)));
    if (!node) return ATTACHED_BAD_ARGUMENT;
    node->type = type;
    node->data = data;
    node->next = file->attached;
    file->attached = node;
    return ATTACHED_OK;
}

int32_t attached_data_find(scan_file *file, uint32_t type, void **out) {
    if (!file || !out) return ATTACHED_BAD_ARGUMENT;
    *out = nullptr;
    for (attached_data *n = file->attached; n; n = n->next) {
        if (n->type != type) continue;
        if (!n->data) return ATTACHED_FOUND_EMPTY;
        *out = n->data;
        return ATTACHED_OK;
    }
    return ATTACHED_NOT_FOUND;
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
    if (!file) return ATTACHED_BAD_ARGUMENT;
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
