// The two fault walks every subsystem's full walk runs through. A walk opens what it needs on the host, calls the
// module, releases everything it opened and returns a digest of the answers, so that runs can be compared.
#pragma once

#include <functional>
#include <string>

#include "kqhost.h"

namespace kqtest {

using walk_fn = std::function<std::string()>;

// Runs the walk once cleanly, then once per allocation it made with that allocation failing. Every run must leave no
// block live and no misuse; a run whose failure comes after the last allocation must answer as the clean run. Returns
// the number of allocations of the clean run.
uint64_t expect_survives_alloc_failures(kqhost *host, const walk_fn &walk);

// Runs the walk with reads failing, seeks failing and reads cut to 1, 100 and 4096 bytes: nothing may leak. Returns the
// digest of the run whose reads all failed.
std::string expect_survives_read_failures(kqhost *host, const walk_fn &walk);

}  // namespace kqtest
