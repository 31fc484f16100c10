// Calls into the host's services. Every host call passes the context and the
// instance word first; these wrappers keep that in one place and make sizes u64.
#pragma once

#include "kqhelp/kqhelp.h"

namespace kq {

// The three words at the start of a scan_file (and of every container owner).
struct host_ref {
    host_context *ctx;
    uint32_t instance;
    const host_services *services;

    void *alloc(uint64_t size) const { return services->alloc(ctx, instance, size); }
    void *alloc_zeroed(uint64_t size) const { return services->alloc_zeroed(ctx, instance, size); }
    void free(void *block) const {
        if (block) services->free(ctx, instance, block);
    }
    int32_t seek(uint32_t handle, uint64_t offset) const { return services->seek(ctx, instance, handle, offset, 0); }
    int32_t read(uint32_t handle, void *buffer, uint64_t count, uint64_t *done) const {
        return services->read(ctx, instance, handle, buffer, count, done);
    }
    int32_t read_at(uint32_t handle, uint64_t offset, void *buffer, uint64_t count, uint64_t *done) const {
        return services->read_at(ctx, instance, handle, offset, buffer, count, done);
    }
    int32_t file_size(uint32_t handle, uint64_t *size) const {
        return services->get_file_size(ctx, instance, handle, size);
    }
};

inline host_ref host_of(const scan_file *file) { return {file->ctx, file->instance, file->services}; }

inline void *get_interface(host_context *ctx, uint32_t instance, uint32_t id) {
    return ctx->get_interface(ctx, instance, id);
}

// A host block that is returned to the host when the scope ends, unless
// release() hands ownership on. Keeps every early return leak-free.
class host_block {
public:
    host_block(const host_ref &host, void *block) : host_(host), block_(block) {}
    host_block(const host_block &) = delete;
    host_block &operator=(const host_block &) = delete;
    ~host_block() { host_.free(block_); }

    explicit operator bool() const { return block_ != nullptr; }
    template <class T = uint8_t> T *get() const { return static_cast<T *>(block_); }
    void *release() {
        void *b = block_;
        block_ = nullptr;
        return b;
    }

private:
    host_ref host_;
    void *block_;
};

}  // namespace kq
