// The shared layer: inputs, escaped text, JSON records and error reports.
#include "tool.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kqtool {

bool arguments::has(const char *name) const {
    for (const auto &g : given)
        if (!strcmp(g.first, name)) return true;
    return false;
}

const char *arguments::value(const char *name) const {
    const char *v = nullptr;
    for (const auto &g : given)
        if (!strcmp(g.first, name) && g.second) v = g.second;
    return v;
}

namespace {

const char *not_regular(mode_t mode) {
    if (S_ISDIR(mode)) return "is a directory";
    if (S_ISFIFO(mode)) return "is a FIFO";
    if (S_ISCHR(mode)) return "is a character device";
    if (S_ISBLK(mode)) return "is a block device";
    if (S_ISSOCK(mode)) return "is a socket";
    return "is not a regular file";
}

// Copies standard input to an unlinked temporary file: the module seeks.
int spool_stdin() {
    const char *dir = getenv("TMPDIR");
    std::string name = std::string(dir && *dir ? dir : "/tmp") + "/kqhelp-stdin-XXXXXX";
    int fd = mkstemp(name.data());
    if (fd < 0) return -1;
    unlink(name.c_str());
    static char buffer[1 << 16];
    for (;;) {
        ssize_t got = read(0, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0 || write(fd, buffer, size_t(got)) != got) {
            if (got == 0) return fd;
            ::close(fd);
            return -1;
        }
    }
}

}  // namespace

int tool::open_input(const char *path, bool seekable) {
    struct stat st;
    if (!strcmp(path, "-")) {
        if (fstat(0, &st) == 0 && S_ISREG(st.st_mode)) return dup(0);
        if (!seekable) return dup(0);
        int copy = -1;
        {
            std::lock_guard<std::mutex> lock(state->output);
            if (state->stdin_copy < 0) state->stdin_copy = spool_stdin();
            copy = state->stdin_copy;
        }
        if (copy >= 0) return dup(copy);
        fail(path, "cannot copy standard input to a temporary file: %s", strerror(errno));
        return -1;
    }
    // Non-blocking, so a FIFO without a writer is reported, not waited for.
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        fail(path, "%s", strerror(errno));
        return -1;
    }
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        fail(path, "%s", fstat(fd, &st) != 0 ? strerror(errno) : not_regular(st.st_mode));
        ::close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

scan_file *tool::open(const char *path, uint32_t *handle) {
    int fd = open_input(path, true);
    if (fd < 0) return nullptr;
    *handle = kqhost_open_fd(host, fd);
    if (!*handle) {
        fail(path, "%s", kqhost_last_error(host));
        return nullptr;
    }
    scan_file *file = call<SLOT_SCAN_FILE_CREATE>(kqhost_context(host), kqhost_instance(host), handle);
    if (!file) {
        fail(path, "the module could not create a scan_file");
        kqhost_close_file(host, *handle);
    }
    return file;
}

void tool::close(scan_file *file, uint32_t handle) {
    call<SLOT_SCAN_FILE_DESTROY>(kqhost_context(host), kqhost_instance(host), file);
    kqhost_close_file(host, handle);
    if (uint64_t live = kqhost_live_blocks(host)) {
        fail(nullptr, "the module leaked %llu host blocks", static_cast<unsigned long long>(live));
    }
}

void tool::fail(const char *path, const char *fmt, ...) const {
    char message[512];
    va_list args;
    va_start(args, fmt);
    vsnprintf(message, sizeof message, fmt, args);
    va_end(args);
    report(path, message);
    if (json && path) emit(record(*this, path).str("error", message).text());
}

void tool::report(const char *path, const char *message) const {
    state->error = true;
    std::lock_guard<std::mutex> lock(state->output);
    if (path) fprintf(stderr, "kqhelp: %s: %s\n", shown(path).c_str(), message);
    else fprintf(stderr, "kqhelp: %s\n", message);
}

void tool::emit(const std::string &line) const {
    if (capture) {
        *capture += line + "\n";
        return;
    }
    std::lock_guard<std::mutex> lock(state->output);
    fwrite(line.data(), 1, line.size(), stdout);
    fputc('\n', stdout);
}

bool tool::read_at(const scan_file *file, uint32_t handle, uint64_t offset, void *out, uint64_t count) const {
    uint64_t done = 0;
    return file->services->read_at(file->ctx, file->instance, handle, offset, out, count, &done) == 0 &&
           done == count;
}

std::string shown(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c >= 0x20 && c < 0x7F) out += char(c);
        else {
            char esc[8];
            snprintf(esc, sizeof esc, "\\x%02x", c);
            out += esc;
        }
    }
    return out;
}

std::string hex(uint64_t v) {
    char buf[24];
    snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

std::string json_string(std::string_view bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c >= 0x7F) {  // bytes, not UTF-8: each one stands for itself
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

json &json::key(const char *k) {
    if (out_.size() > 1) out_ += ",";
    out_ += json_string(k) + ":";
    return *this;
}
json &json::str(const char *k, std::string_view v) { key(k);
    out_ += json_string(v);
    return *this;
}
json &json::num(const char *k, uint64_t v) { key(k);
    out_ += std::to_string(v);
    return *this;
}
json &json::hex(const char *k, uint64_t v) { key(k);
    out_ += "\"" + kqtool::hex(v) + "\"";
    return *this;
}
json &json::flag(const char *k, bool v) { key(k);
    out_ += v ? "true" : "false";
    return *this;
}
json &json::raw(const char *k, const std::string &text) { key(k);
    out_ += text;
    return *this;
}
json &json::null(const char *k) { key(k);
    out_ += "null";
    return *this;
}

json record(const tool &t, const char *path) {
    json r;
    r.num("json_version", json_version).str("command", t.cmd->name);
    if (path) r.str("file", path);
    return r;
}

std::string json_list(const std::vector<std::string> &items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); i++) out += (i ? "," : "") + items[i];
    return out + "]";
}

bool parse_u64(const char *text, uint64_t *out) {
    if (!text || !*text || *text == '-' || *text == '+' || *text == ' ') return false;
    char *end = nullptr;
    errno = 0;
    unsigned long long v = strtoull(text, &end, 0);
    if (errno || *end) return false;
    *out = v;
    return true;
}

}  // namespace kqtool
