#pragma once

#include <stddef.h>

#include "tool.h"

namespace kqtool {
// The subcommands built into this tool, in the order of the help text.
const command *commands(size_t *count);
}  // namespace kqtool
