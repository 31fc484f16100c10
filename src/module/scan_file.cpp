// The per-file object: creation, reset, destruction and the accessors.
#include <string.h>

#include "module/attached_data.h"
#include "module/host_calls.h"
#include "module/slots.h"

namespace {

scan_file *scan_file_init(host_context *ctx, uint32_t instance, const uint32_t *handle, scan_file *storage) {
    if (!ctx || !instance || !handle || !*handle) return nullptr;
    auto *services = static_cast<const host_services *>(kq::get_interface(ctx, instance, HOST_IFACE_SERVICES));
    if (!services) return nullptr;
    scan_file *file = storage;
    if (!file) {
        file = static_cast<scan_file *>(services->alloc(ctx, instance, sizeof(scan_file)));
        if (!file) return nullptr;
    }
    memset(file, 0, sizeof(*file));
    file->ctx = ctx;
    file->instance = instance;
    file->services = services;
    file->handle = *handle;
    services->get_file_size(ctx, instance, file->handle, &file->size);  // result not examined
    file->self_api =
        static_cast<const helper_api_entry *>(kq::get_interface(ctx, instance, HOST_IFACE_SELF_API));
    file->size_list_api =
        static_cast<const host_size_list *>(kq::get_interface(ctx, instance, HOST_IFACE_SIZE_LIST));
    if (!file->self_api) {
        // A caller's storage stays as filled; our own block goes back.
        if (!storage) services->free(ctx, instance, file);
        return nullptr;
    }
    return file;
}

}  // namespace

extern "C" {

scan_file *scan_file_create(host_context *ctx, uint32_t instance, uint32_t *handle) {
    return scan_file_init(ctx, instance, handle, nullptr);
}

int32_t scan_file_destroy(host_context *ctx, uint32_t instance, scan_file *file) {
    if (!ctx || !instance) return 0;
    kq::attached_data_clear(file);
    auto *services = static_cast<const host_services *>(kq::get_interface(ctx, instance, HOST_IFACE_SERVICES));
    if (services && file) services->free(ctx, instance, file);
    return 0;
}

int32_t scan_file_set_handle(scan_file *file, uint32_t handle) {
    if (!file) return 1;
    file->handle = handle;
    return 0;
}

int32_t scan_file_reset(scan_file *file, uint32_t handle) {
    if (!file) return 1;
    kq::attached_data_clear(file);
    scan_file_init(file->ctx, file->instance, &handle, file);
    return 0;
}

int32_t scan_file_get_size(scan_file *file, uint64_t *out) {
    if (!out) return 1;
    *out = 0;
    if (!file) return 1;
    *out = file->size;
    return 0;
}

int32_t scan_file_get_handle(scan_file *file, uint32_t *out) {
    if (!out) return 1;
    *out = 0;
    if (!file) return 1;
    *out = file->handle;
    return 0;
}

void scan_file_set_user1(scan_file *file, uint32_t value) {
    if (file) file->user1 = value;
}
uint32_t scan_file_get_user1(scan_file *file) { return file ? file->user1 : 1; }
uint32_t scan_file_get_user3(scan_file *file) { return file ? file->user3 : 0; }
void scan_file_set_user3(scan_file *file, uint32_t value) {
    if (file) file->user3 = value;
}
void scan_file_set_user2(scan_file *file, uint32_t value) {
    if (file) file->user2 = value;
}
uint32_t scan_file_get_user2(scan_file *file) { return file ? file->user2 : 0; }

}  // extern "C"
