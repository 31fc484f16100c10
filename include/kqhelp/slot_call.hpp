// Typed access to the function table for C++ hosts, tools and tests: the
// type of each entry comes from the slot list, so a call cannot use the
// wrong one.
//
//     int32_t rc = kqhelp::call<SLOT_ELF_CHECK>(api, reader, 1);
//     auto *fn = kqhelp::slot<SLOT_CRC32_UPDATE>(api);
#pragma once

#include <utility>

#include "kqhelp/kqhelp.h"

namespace kqhelp {

template <int Slot> struct slot_traits;
#define KQHELP_SLOT_TRAITS(number, NAME, stem) \
    template <> struct slot_traits<number> { using type = stem##_fn; };
KQHELP_SLOT_LIST(KQHELP_SLOT_TRAITS)
#undef KQHELP_SLOT_TRAITS

// The function type of slot Slot, e.g. slot_fn<SLOT_ELF_CHECK> is elf_check_fn.
template <int Slot> using slot_fn = typename slot_traits<Slot>::type;

template <int Slot> inline slot_fn<Slot> slot(const helper_api_entry *api) {
    return reinterpret_cast<slot_fn<Slot>>(api[Slot]);
}

template <int Slot, class... Args> inline decltype(auto) call(const helper_api_entry *api, Args &&...args) {
    return slot<Slot>(api)(std::forward<Args>(args)...);
}

}  // namespace kqhelp
