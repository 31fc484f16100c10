// The identity record, the dependency list and the three entry points. Both
// records are constant: the host reads them, the module never does.
#include "kqhelp/kqhelp.h"

namespace {

inline constexpr module_dependency kDependencies[] = {
    {"KQCORE", {8, 1, 2}, {0xFFFFFFFFu, 0xFFFFFFFFu}},
    {"KQVDF", {8, 1, 0}, {0xFFFFFFFFu, 0xFFFFFFFFu}},
    {"", {0, 0, 0}, {0xFFFFFFFFu, 0xFFFFFFFFu}},
};

inline constexpr char kModuleName[] = "KQHELP";

constinit const module_info identity = {
    "KQHELP", {8, 1, 1, 2}, 2008, 10, 9, 12, 54, 46, 0, {0xFFFFFFFFu, 0xFFFFFFFFu}, kDependencies, kModuleName,
};

}  // namespace

extern const helper_api_entry helper_api[KQHELP_API_SLOTS];

extern "C" {

uint32_t module_get_abi_version(void) { return KQHELP_ABI_VERSION; }
const module_info *module_get_info(void) { return &identity; }
const helper_api_entry *module_get_api(void) { return helper_api; }

}
