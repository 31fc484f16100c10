// kqhelp name: whether each detection name starts with a category prefix.
#include "tool.h"

namespace kqtool {

int cmd_name(tool &t, int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: kqhelp name NAME...\n");
        return EXIT_USAGE;
    }
    auto has_prefix = t.slot<name_has_category_prefix_fn>(SLOT_NAME_HAS_CATEGORY_PREFIX);
    for (int i = 1; i < argc; i++)
        printf("%s: %s\n", argv[i], has_prefix(argv[i]) ? "category prefix" : "no category prefix");
    return EXIT_OK;
}

}  // namespace kqtool
