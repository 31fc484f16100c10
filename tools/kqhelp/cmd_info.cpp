// kqhelp info: the identity record, the ABI version, the dependencies and a
// check that every slot of the table is filled.
#include <string.h>

#include "commands.h"

namespace kqtool {
namespace {

int run(tool &t, const arguments &) {
    const module_info *info = kqhost_module_info(t.host);
    char version[64], built[64];
    snprintf(version, sizeof version, "%u.%u.%u.%u", info->version[0], info->version[1], info->version[2],
             info->version[3]);
    snprintf(built, sizeof built, "%04u-%02u-%02u %02u:%02u:%02u", info->build_year, info->build_month,
             info->build_day, info->build_hour, info->build_minute, info->build_second);
    const std::string name = shown(std::string_view(info->name, strnlen(info->name, sizeof info->name)));
    std::vector<std::string> deps, empty;
    std::string dep_text;
    for (const module_dependency *d = info->dependencies; d && d->name[0]; d++) {
        char line[96];
        const std::string dep = shown(std::string_view(d->name, strnlen(d->name, sizeof d->name)));
        snprintf(line, sizeof line, "%u.%u.%u", d->version[0], d->version[1], d->version[2]);
        deps.push_back(json().str("name", dep).str("version", line).text());
        dep_text += "  " + dep + std::string(dep.size() < 10 ? 10 - dep.size() : 0, ' ') + " " + line + "\n";
    }
    for (int s = 0; s < KQHELP_API_SLOTS; s++)
        if (!t.api[s]) {
            empty.push_back(std::to_string(s));
            t.fail(nullptr, "slot %d is empty", s);
        }
    if (t.json) {
        t.emit(record(t, nullptr).str("module", name).str("version", version).str("built", built)
                   .num("abi_version", KQHELP_ABI_VERSION).raw("dependencies", json_list(deps))
                   .num("slots", KQHELP_API_SLOTS).raw("empty_slots", json_list(empty)).text());
        return EXIT_OK;
    }
    printf("module:        %s\nversion:       %s\nbuilt:         %s\nABI version:   %u\ndependencies:\n%s",
           name.c_str(), version, built, KQHELP_ABI_VERSION, dep_text.c_str());
    printf("table:         %d slots, %s\n", KQHELP_API_SLOTS, empty.empty() ? "all filled" : "INCOMPLETE");
    return EXIT_OK;
}

}  // namespace

extern const command cmd_info = {"info", "", "identity record, ABI version, dependencies and a check of the table",
                                 nullptr, 0, 0, outcome::report, run};

}  // namespace kqtool
