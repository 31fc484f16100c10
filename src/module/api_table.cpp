// The 75-slot function table, made from the slot list of kqhelp/slots.h.
// The slot number is the interface: the order never changes and no entry is
// null. Every row is checked at compile time: its function is declared with
// the slot's *_fn type (module/slots.h), and its number is its position.
#include "module/slots.h"

namespace {

// Row n of the list must carry number n: swapping two rows stops the build.
#define KQ_SLOT_NUMBER(number, NAME, stem) number,
inline constexpr int kSlotNumbers[] = {KQHELP_SLOT_LIST(KQ_SLOT_NUMBER)};
#undef KQ_SLOT_NUMBER
static_assert(sizeof(kSlotNumbers) / sizeof(kSlotNumbers[0]) == KQHELP_API_SLOTS, "one row per slot");
constexpr bool rows_in_order() {
    for (int i = 0; i < KQHELP_API_SLOTS; ++i)
        if (kSlotNumbers[i] != i) return false;
    return true;
}
static_assert(rows_in_order(), "row n of KQHELP_SLOT_LIST is slot n");

}  // namespace

// A C-style function-pointer conversion; the table is still initialised
// statically (by relocations), never by code at load time.
#define KQ_SLOT_ENTRY(number, NAME, stem) reinterpret_cast<helper_api_entry>(stem),

extern const helper_api_entry helper_api[KQHELP_API_SLOTS];
const helper_api_entry helper_api[KQHELP_API_SLOTS] = {KQHELP_SLOT_LIST(KQ_SLOT_ENTRY)};
