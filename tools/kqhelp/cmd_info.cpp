// kqhelp info: the identity record, the ABI version, the dependencies and a
// check that every slot of the table is filled.
#include "tool.h"

namespace kqtool {

int cmd_info(tool &t, int argc, char **argv) {
    if (argc != 1) {
        fprintf(stderr, "usage: kqhelp info\n");
        return EXIT_USAGE;
    }
    const module_info *info = kqhost_module_info(t.host);
    printf("module:        %.32s\n", info->name);
    printf("version:       %u.%u.%u.%u\n", info->version[0], info->version[1], info->version[2], info->version[3]);
    printf("built:         %04u-%02u-%02u %02u:%02u:%02u\n", info->build_year, info->build_month, info->build_day,
           info->build_hour, info->build_minute, info->build_second);
    printf("ABI version:   %u\n", KQHELP_ABI_VERSION);
    printf("dependencies:\n");
    for (const module_dependency *d = info->dependencies; d && d->name[0]; d++)
        printf("  %-10.32s %u.%u.%u\n", d->name, d->version[0], d->version[1], d->version[2]);
    int empty = 0;
    for (int s = 0; s < KQHELP_API_SLOTS; s++)
        if (!t.api[s]) {
            printf("slot %d is empty\n", s);
            empty++;
        }
    printf("table:         %d slots, %s\n", KQHELP_API_SLOTS, empty ? "INCOMPLETE" : "all filled");
    return empty ? EXIT_FILE_ERROR : EXIT_OK;
}

}  // namespace kqtool
