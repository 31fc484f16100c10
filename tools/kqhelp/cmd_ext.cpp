// kqhelp ext: which of the two lists each extension is on. The extension is
// passed as given: the lists hold upper-case extensions with their dot.
#include "commands.h"

namespace kqtool {
namespace {

int run(tool &t, const arguments &a) {
    for (const char *ext : a.operands) {
        const bool executable = t.call<SLOT_EXT_IN_EXECUTABLE_LIST>(ext) != 0;
        const bool document = t.call<SLOT_EXT_IN_DOCUMENT_LIST>(ext) != 0;
        if (executable || document) t.found();
        if (t.json)
            t.emit(record(t, nullptr).str("extension", ext).flag("executable", executable)
                       .flag("document", document).text());
        else if (!executable && !document)
            printf("%s: not listed\n", shown(ext).c_str());
        else
            printf("%s:%s%s\n", shown(ext).c_str(), executable ? " executable" : "", document ? " document" : "");
    }
    return EXIT_OK;
}

}  // namespace

extern const command cmd_ext = {"ext", "EXT...",
                                "whether each extension (.EXE: upper case, with its dot) is on the lists",
                                nullptr, 1, -1, outcome::predicate, run};

}  // namespace kqtool
