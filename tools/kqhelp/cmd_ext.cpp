// kqhelp ext: which of the two lists each extension is on. The extension is
// passed as given: the lists hold upper-case extensions with their dot.
#include "tool.h"

namespace kqtool {

int cmd_ext(tool &t, int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: kqhelp ext EXT...   (upper case, with the dot: .EXE)\n");
        return EXIT_USAGE;
    }
    auto executable = t.slot<ext_in_executable_list_fn>(SLOT_EXT_IN_EXECUTABLE_LIST);
    auto document = t.slot<ext_in_document_list_fn>(SLOT_EXT_IN_DOCUMENT_LIST);
    for (int i = 1; i < argc; i++) {
        const bool on_executable = executable(argv[i]) != 0;
        const bool on_document = document(argv[i]) != 0;
        if (!on_executable && !on_document)
            printf("%s: not listed\n", argv[i]);
        else
            printf("%s:%s%s\n", argv[i], on_executable ? " executable" : "", on_document ? " document" : "");
    }
    return EXIT_OK;
}

}  // namespace kqtool
