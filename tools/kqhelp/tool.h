// Shared plumbing of the kqhelp subcommands: the loaded module, typed slot
// access, per-file scan_file handling and small output helpers.
#pragma once

#include <stdio.h>

#include <string>

#include "kqhost.h"

namespace kqtool {

// Exit statuses: 0 success, 1 a file could not be handled, 2 usage error.
enum { EXIT_OK = 0, EXIT_FILE_ERROR = 1, EXIT_USAGE = 2 };

struct tool {
    kqhost *host = nullptr;
    const helper_api_entry *api = nullptr;
    const char *program = "kqhelp";

    template <class Fn> Fn slot(int number) const { return reinterpret_cast<Fn>(api[number]); }

    // Opens path through the host and creates its scan_file; prints a one-line
    // error naming the file and returns null on failure.
    scan_file *open(const char *path, uint32_t *handle);
    // Destroys the scan_file, closes the file and reports leaked host blocks.
    // Returns false when the module leaked.
    bool close(scan_file *file, uint32_t handle);

    // Runs fn(path, file, handle) -> bool on each of paths[0..count) with a
    // fresh scan_file. Returns EXIT_FILE_ERROR when a file cannot be opened,
    // fn returns false or the module leaked, EXIT_OK otherwise; every file is
    // handled whatever happened to the ones before it.
    template <class Fn> int for_each_file(int count, char **paths, Fn fn) {
        int status = EXIT_OK;
        for (int i = 0; i < count; i++) {
            uint32_t handle = 0;
            scan_file *file = open(paths[i], &handle);
            if (!file) {
                status = EXIT_FILE_ERROR;
                continue;
            }
            if (!fn(paths[i], file, handle)) status = EXIT_FILE_ERROR;
            if (!close(file, handle)) status = EXIT_FILE_ERROR;
        }
        return status;
    }

    // "kqhelp: PATH: message" on stderr.
    void error(const char *path, const char *fmt, ...) const __attribute__((format(printf, 3, 4)));
};

// One subcommand: argv[0] is its name.
using command_fn = int (*)(tool &t, int argc, char **argv);

struct command {
    const char *name;
    const char *usage;    // arguments, e.g. "[--json] FILE..."
    const char *summary;  // one line
    command_fn run;
};

// JSON string escaping for --json output.
std::string json_string(const char *text);

// Parses a number in decimal or 0x hex; false on garbage or overflow.
bool parse_u64(const char *text, uint64_t *out);

}  // namespace kqtool
