// kqhelp name: whether each detection name starts with a category prefix.
#include "commands.h"

namespace kqtool {
namespace {

int run(tool &t, const arguments &a) {
    for (const char *name : a.operands) {
        const bool prefix = t.call<SLOT_NAME_HAS_CATEGORY_PREFIX>(name) != 0;
        if (prefix) t.found();
        if (t.json)
            t.emit(record(t, nullptr).str("name", name).flag("category_prefix", prefix).text());
        else
            printf("%s: %s\n", shown(name).c_str(), prefix ? "category prefix" : "no category prefix");
    }
    return EXIT_OK;
}

}  // namespace

extern const command cmd_name = {"name", "NAME...", "whether each detection name has a category prefix", nullptr, 1,
                                 -1, outcome::predicate, run};

}  // namespace kqtool
