// The reference host serving the module linked into a fuzzer, made once per
// process, and typed access to the table's slots.
#pragma once

#include "kqhost.h"

inline kqhost *fuzz_host() {
    static kqhost *host = [] {
        kqhost *h = kqhost_create();
        kqhost_use_linked_module(h, module_get_info(), module_get_api());
        return h;
    }();
    return host;
}

template <class Fn> Fn slot(int n) { return reinterpret_cast<Fn>(kqhost_api(fuzz_host())[n]); }
