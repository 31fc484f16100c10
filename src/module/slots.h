// The functions behind the 75 slots, declared from the slot list with their
// slot's exact type: a subsystem that defines one with another signature
// stops the build, and there is no second list to keep in step.
#pragma once

#include <type_traits>

#include "kqhelp/kqhelp.h"
#include "inflate/inflate_facade.h"

#define KQ_DECLARE_SLOT_FUNCTION(number, NAME, stem) std::remove_pointer_t<stem##_fn> stem;
extern "C" {
KQHELP_SLOT_LIST(KQ_DECLARE_SLOT_FUNCTION)
}
#undef KQ_DECLARE_SLOT_FUNCTION
