// The owner argument of the container functions: any record that starts
// with the host context, the instance word and the host's services, as a
// scan_file does. Only those three words are read.
#pragma once

#include "module/host_calls.h"

namespace kq {

static_assert(offsetof(helper_owner, ctx) == offsetof(scan_file, ctx) &&
                  offsetof(helper_owner, instance) == offsetof(scan_file, instance) &&
                  offsetof(helper_owner, services) == offsetof(scan_file, services),
              "an owner is laid out as the start of a scan_file");

inline host_ref host_of(const helper_owner *owner) { return {owner->ctx, owner->instance, owner->services}; }

// A node from the pool when one is named (it then belongs to the pool),
// else from the host heap.
inline void *container_node(const helper_owner *owner, void *pool, uint32_t size, bool zeroed) {
    if (pool)
        return zeroed ? owner->services->pool_alloc_zeroed(pool, size) : owner->services->pool_alloc(pool, size);
    const host_ref host = host_of(owner);
    return zeroed ? host.alloc_zeroed(size) : host.alloc(size);
}

}  // namespace kq
