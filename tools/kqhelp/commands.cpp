// The subcommand table.
#include "commands.h"

namespace kqtool {

const std::vector<const command *> &all_commands() {
#define KQ_ENTRY(name) &cmd_##name,
    static const std::vector<const command *> all = {KQ_COMMANDS(KQ_ENTRY)};
#undef KQ_ENTRY
    return all;
}

}  // namespace kqtool
