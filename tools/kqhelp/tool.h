// The shared layer of the kqhelp subcommands. Every subcommand goes through
// it for its arguments (options anywhere before `--`, `-` for standard input,
// `SUB --help`), its input files (opened without blocking, regular files
// only), its output (escaped text, JSON Lines with one envelope) and its exit
// status, so that they all behave alike.
#pragma once

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kqhelp/slot_call.hpp"
#include "kqhost.h"

namespace kqtool {

enum { EXIT_OK = 0, EXIT_FILE_ERROR = 1, EXIT_USAGE = 2 };

// How what a subcommand found and failed becomes its exit status.
enum class outcome {
    report,     // 0 every input handled, 1 some input could not be
    predicate,  // grep's: 0 something found, 1 nothing found, 2 an error
    scanner,    // virus scanners': 0 nothing found, 1 something found, 2 an error
};

struct option {
    const char *name;   // "--json", "-i"
    const char *value;  // placeholder of its value ("N"); null for a flag
    const char *help;
};

struct tool;
struct arguments;
using command_fn = int (*)(tool &t, const arguments &a);  // EXIT_USAGE or EXIT_OK

struct command {
    const char *name;
    const char *operands;  // "FILE..."
    const char *summary;   // one line
    const option *options;  // ends with {nullptr}; null: none
    int min_operands, max_operands;  // max -1: any number
    outcome style;
    command_fn run;
    const char *notes = nullptr;  // more lines for `SUB --help`
};

// What the layer parsed from the subcommand's arguments.
struct arguments {
    std::vector<const char *> operands;
    std::vector<std::pair<const char *, const char *>> given;  // option name, value (null for a flag)
    bool has(const char *name) const;
    const char *value(const char *name) const;  // the last one given, or null
};

// What all threads of one run share.
struct run_state {
    std::atomic<bool> error{false}, found{false};
    std::mutex output;
    int stdin_copy = -1;  // standard input spooled to a temporary file, once
};

struct tool {
    kqhost *host = nullptr;
    const helper_api_entry *api = nullptr;
    const command *cmd = nullptr;
    bool json = false;
    run_state *state = nullptr;
    std::string *capture = nullptr;  // when set, emit() collects lines here instead of printing

    template <int Slot, class... Args> decltype(auto) call(Args &&...args) const {
        return kqhelp::call<Slot>(api, std::forward<Args>(args)...);
    }

    // A descriptor of path ("-": standard input, spooled to a temporary file
    // when seekable is asked and it is not a regular file). Anything else that
    // is not a regular file is refused. -1 after reporting why.
    int open_input(const char *path, bool seekable);
    // The file's scan_file through this tool's host, or null after reporting.
    scan_file *open(const char *path, uint32_t *handle);
    void close(scan_file *file, uint32_t handle);
    // Runs fn(path, file, handle) on every operand that opens.
    template <class Fn> void for_each_file(const arguments &a, Fn fn) {
        for (const char *path : a.operands) {
            uint32_t handle = 0;
            if (scan_file *file = open(path, &handle)) {
                fn(path, file, handle);
                close(file, handle);
            }
        }
    }

    // An input that could not be handled: "kqhelp: PATH: message" on stderr
    // and, with --json, an error record in the stream.
    void fail(const char *path, const char *fmt, ...) const __attribute__((format(printf, 3, 4)));
    // The stderr line alone, for a file whose record already holds "error".
    void report(const char *path, const char *message) const;
    void found() const { state->found = true; }
    // One line on stdout ('\n' added), whole even when threads share stdout.
    void emit(const std::string &line) const;
    // Reads count bytes at offset; false on a read failure or short file.
    bool read_at(const scan_file *file, uint32_t handle, uint64_t offset, void *out, uint64_t count) const;
};

// Bytes from a file or the command line made safe for a terminal: printable
// ASCII stays, '\\' doubles, anything else becomes \n, \t or \xHH.
std::string shown(std::string_view bytes);
std::string hex(uint64_t v);  // "0x1f"

// One JSON object on one line. 64-bit values (addresses, offsets, flags,
// keys) go in as hex strings: JSON readers round numbers past 2^53.
class json {
public:
    json &str(const char *key, std::string_view v);
    json &num(const char *key, uint64_t v);
    json &hex(const char *key, uint64_t v);
    json &flag(const char *key, bool v);
    json &raw(const char *key, const std::string &text);  // a nested value
    json &null(const char *key);
    std::string text() const { return out_ + "}"; }

private:
    json &key(const char *k);
    std::string out_ = "{";
};
constexpr int json_version = 1;
// The envelope every record starts with: version, subcommand and file.
json record(const tool &t, const char *path);
std::string json_list(const std::vector<std::string> &items);
std::string json_string(std::string_view bytes);

// A number in decimal or 0x hex; false on garbage or overflow.
bool parse_u64(const char *text, uint64_t *out);

}  // namespace kqtool
