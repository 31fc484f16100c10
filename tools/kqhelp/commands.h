#pragma once

#include <vector>

#include "tool.h"

// Every subcommand, in the order of the help text. Each is defined as
// `const command cmd_NAME` in its cmd_NAME.cpp; one that is missing or
// misspelt fails the link.
#define KQ_COMMANDS(X) X(info) X(regions) X(elf) X(pe) X(window) X(search) X(crc) \
    X(known) X(xor) X(scan) X(name) X(ext) X(inflate)

namespace kqtool {
#define KQ_DECLARE(name) extern const command cmd_##name;
KQ_COMMANDS(KQ_DECLARE)
#undef KQ_DECLARE

const std::vector<const command *> &all_commands();
}  // namespace kqtool
