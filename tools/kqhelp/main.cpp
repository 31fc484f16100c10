// kqhelp: a command-line host for the KQHELP module.
#include <limits.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "commands.h"

namespace kqtool {

scan_file *tool::open(const char *path, uint32_t *handle) {
    *handle = kqhost_open_file(host, path);
    if (!*handle) {
        error(nullptr, "%s", kqhost_last_error(host));  // the host's message names the file
        return nullptr;
    }
    scan_file *file = slot<scan_file_create_fn>(SLOT_SCAN_FILE_CREATE)(kqhost_context(host),
                                                                        kqhost_instance(host), handle);
    if (!file) {
        error(path, "the module could not create a scan_file");
        kqhost_close_file(host, *handle);
        return nullptr;
    }
    return file;
}

bool tool::close(scan_file *file, uint32_t handle) {
    slot<scan_file_destroy_fn>(SLOT_SCAN_FILE_DESTROY)(kqhost_context(host), kqhost_instance(host), file);
    kqhost_close_file(host, handle);
    if (kqhost_live_blocks(host) == 0) return true;
    fprintf(stderr, "%s: the module leaked %llu host blocks\n", program,
            static_cast<unsigned long long>(kqhost_live_blocks(host)));
    return false;
}

void tool::error(const char *path, const char *fmt, ...) const {
    va_list args;
    va_start(args, fmt);
    fprintf(stderr, "%s: ", program);
    if (path) fprintf(stderr, "%s: ", path);
    vfprintf(stderr, fmt, args);
    fputc('\n', stderr);
    va_end(args);
}

std::string json_string(const char *text) {
    std::string out = "\"";
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; p++) {
        if (*p == '"' || *p == '\\') {
            out += '\\';
            out += static_cast<char>(*p);
        } else if (*p < 0x20 || *p >= 0x7F) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", *p);
            out += esc;
        } else {
            out += static_cast<char>(*p);
        }
    }
    return out + "\"";
}

bool parse_u64(const char *text, uint64_t *out) {
    if (!text || !*text || *text == '-') return false;
    char *end = nullptr;
    errno = 0;
    unsigned long long v = strtoull(text, &end, 0);
    if (errno || *end) return false;
    *out = v;
    return true;
}

}  // namespace kqtool

namespace {

void usage(FILE *out) {
    size_t n = 0;
    const kqtool::command *cmds = kqtool::commands(&n);
    fprintf(out,
            "usage: kqhelp [--module PATH] COMMAND [ARGS...]\n"
            "       kqhelp --help | --version\n\n"
            "Runs the KQHELP module through the reference host.\n"
            "The module is PATH, else $KQHELP_MODULE, else libkqhelp.so beside this program,\n"
            "else the installed module.\n\n"
            "commands:\n");
    for (size_t i = 0; i < n; i++) {
        std::string left = std::string(cmds[i].name) + " " + cmds[i].usage;
        fprintf(out, "  %-46s %s\n", left.c_str(), cmds[i].summary);
    }
}

std::string default_module_path() {
    if (const char *env = getenv("KQHELP_MODULE"); env && *env) return env;
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "libkqhelp.so";
    self[n] = 0;
    std::string dir(self);
    dir = dir.substr(0, dir.rfind('/'));
    std::string beside = dir + "/libkqhelp.so";
#ifdef KQHELP_INSTALLED_MODULE
    // An installed tool: the module is in the library folder, relative to bin.
    if (access(beside.c_str(), F_OK) != 0) return dir + "/" KQHELP_INSTALLED_MODULE;
#endif
    return beside;
}

}  // namespace

int main(int argc, char **argv) {
    std::string module_path;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; i++) {
        if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
            usage(stdout);
            return kqtool::EXIT_OK;
        } else if (!strcmp(argv[i], "--version")) {
            printf("kqhelp 8.1.1.2\n");
            return kqtool::EXIT_OK;
        } else if (!strcmp(argv[i], "--module") && i + 1 < argc) {
            module_path = argv[++i];
        } else {
            fprintf(stderr, "kqhelp: unknown option %s\n", argv[i]);
            usage(stderr);
            return kqtool::EXIT_USAGE;
        }
    }
    if (i >= argc) {
        usage(stderr);
        return kqtool::EXIT_USAGE;
    }
    size_t n = 0;
    const kqtool::command *cmds = kqtool::commands(&n);
    const kqtool::command *cmd = nullptr;
    for (size_t c = 0; c < n; c++)
        if (!strcmp(cmds[c].name, argv[i])) cmd = &cmds[c];
    if (!cmd) {
        fprintf(stderr, "kqhelp: unknown command '%s'\n", argv[i]);
        usage(stderr);
        return kqtool::EXIT_USAGE;
    }
    if (module_path.empty()) module_path = default_module_path();

    kqtool::tool t;
    t.host = kqhost_create();
    if (kqhost_load_module(t.host, module_path.c_str()) != 0) {
        fprintf(stderr, "kqhelp: %s\n", kqhost_last_error(t.host));
        kqhost_destroy(t.host);
        return kqtool::EXIT_FILE_ERROR;
    }
    t.api = kqhost_api(t.host);
    int status = cmd->run(t, argc - i, argv + i);
    kqhost_destroy(t.host);
    return status;
}
