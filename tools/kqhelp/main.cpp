// kqhelp: a command-line host for the KQHELP module. This file holds the
// argument conventions and the exit status; tool.cpp the rest of the layer.
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "commands.h"

namespace {

using namespace kqtool;

// Options every subcommand takes.
constexpr option common_options[] = {
    {"--json", nullptr, "one JSON object per line (JSON Lines)"},
    {"--help", nullptr, "this help on standard output"},
    {nullptr, nullptr, nullptr},
};

const char *exit_text(outcome style) {
    switch (style) {
    case outcome::predicate: return "0 something found, 1 nothing found, 2 an error (as grep)";
    case outcome::scanner: return "0 nothing found, 1 something found, 2 an error";
    default: return "0 every input handled, 1 an input could not be handled, 2 a usage error";
    }
}

void usage(FILE *out) {
    fprintf(out,
            "usage: kqhelp [--module PATH] COMMAND [OPTIONS] [--] OPERANDS...\n"
            "       kqhelp --help | --version | COMMAND --help\n\n"
            "Runs the KQHELP module through the reference host.\n"
            "The module is PATH, else $KQHELP_MODULE, else libkqhelp.so beside this program,\n"
            "else the installed module.\n"
            "Options go anywhere before `--`; a FILE of `-` is standard input.\n\n"
            "commands:\n");
    for (const command *c : all_commands()) {
        std::string left = std::string(c->name) + " " + c->operands;
        fprintf(out, "  %-30s %s\n", left.c_str(), c->summary);
    }
}

void print_options(FILE *out, const option *options) {
    for (const option *o = options; o && o->name; o++) {
        std::string left = std::string(o->name) + (o->value ? std::string(" ") + o->value : "");
        fprintf(out, "  %-20s %s\n", left.c_str(), o->help);
    }
}

void command_usage(FILE *out, const command &c) {
    fprintf(out, "usage: kqhelp %s [OPTIONS] [--] %s\n%s\n", c.name, c.operands, c.summary);
    if (c.notes) fprintf(out, "%s\n", c.notes);
    fputs("\noptions:\n", out);
    print_options(out, c.options);
    print_options(out, common_options);
    fprintf(out, "\nexit status: %s\n", exit_text(c.style));
}

const option *find_option(const command &c, std::string_view name) {
    for (const option *table : {c.options, common_options})
        for (const option *o = table; o && o->name; o++)
            if (name == o->name) return o;
    return nullptr;
}

// Splits argv into options and operands. 0 to go on, else an exit status.
int parse(const command &c, int argc, char **argv, arguments *a) {
    bool options_end = false;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        // "-" is standard input and "-1" a number, never options.
        if (options_end || arg[0] != '-' || !arg[1] || (arg[1] >= '0' && arg[1] <= '9')) {
            a->operands.push_back(arg);
            continue;
        }
        if (!strcmp(arg, "--")) {
            options_end = true;
            continue;
        }
        const char *eq = strchr(arg, '=');
        std::string_view name = eq ? std::string_view(arg, size_t(eq - arg)) : std::string_view(arg);
        const option *o = find_option(c, name);
        if (!o || (eq && !o->value)) {
            fprintf(stderr, "kqhelp %s: unknown option '%s'\n", c.name, shown(arg).c_str());
            command_usage(stderr, c);
            return EXIT_USAGE;
        }
        if (!strcmp(o->name, "--help")) {
            command_usage(stdout, c);
            return fflush(stdout) == 0 && !ferror(stdout) ? -1 : EXIT_FILE_ERROR;
        }
        const char *value = nullptr;
        if (o->value) {
            value = eq ? eq + 1 : (i + 1 < argc ? argv[++i] : nullptr);
            if (!value) {
                fprintf(stderr, "kqhelp %s: %s needs a value\n", c.name, o->name);
                command_usage(stderr, c);
                return EXIT_USAGE;
            }
        }
        a->given.emplace_back(o->name, value);
    }
    const int n = int(a->operands.size());
    if (n < c.min_operands || (c.max_operands >= 0 && n > c.max_operands)) {
        fprintf(stderr, "kqhelp %s: %s\n", c.name, n < c.min_operands ? "missing operand" : "too many operands");
        command_usage(stderr, c);
        return EXIT_USAGE;
    }
    return 0;
}

int exit_status(outcome style, bool error, bool found) {
    switch (style) {
    case outcome::predicate: return error ? 2 : found ? 0 : 1;
    case outcome::scanner: return error ? 2 : found ? 1 : 0;
    default: return error ? EXIT_FILE_ERROR : EXIT_OK;
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
            return EXIT_OK;
        } else if (!strcmp(argv[i], "--version")) {
            printf("kqhelp 8.1.1.2\n");
            return EXIT_OK;
        } else if (!strcmp(argv[i], "--module") && i + 1 < argc) {
            module_path = argv[++i];
        } else {
            fprintf(stderr, "kqhelp: unknown option %s\n", shown(argv[i]).c_str());
            usage(stderr);
            return EXIT_USAGE;
        }
    }
    if (i >= argc) {
        usage(stderr);
        return EXIT_USAGE;
    }
    const command *cmd = nullptr;
    for (const command *c : all_commands())
        if (!strcmp(c->name, argv[i])) cmd = c;
    if (!cmd) {
        fprintf(stderr, "kqhelp: unknown command '%s'\n", shown(argv[i]).c_str());
        usage(stderr);
        return EXIT_USAGE;
    }
    arguments args;
    if (int status = parse(*cmd, argc - i, argv + i, &args)) return status < 0 ? EXIT_OK : status;
    if (module_path.empty()) module_path = default_module_path();

    run_state state;
    tool t;
    t.cmd = cmd;
    t.json = args.has("--json");
    t.state = &state;
    t.host = kqhost_create();
    if (kqhost_load_module(t.host, module_path.c_str()) != 0) {
        fprintf(stderr, "kqhelp: %s\n", shown(kqhost_last_error(t.host)).c_str());
        kqhost_destroy(t.host);
        return cmd->style == outcome::report ? EXIT_FILE_ERROR : 2;
    }
    t.api = kqhost_api(t.host);
    const int status = cmd->run(t, args);
    if (fflush(stdout) != 0 || ferror(stdout)) t.fail(nullptr, "write error on standard output: %s", strerror(errno));
    kqhost_destroy(t.host);
    if (status == EXIT_USAGE) {
        command_usage(stderr, *cmd);
        return EXIT_USAGE;
    }
    return exit_status(cmd->style, state.error, state.found);
}
