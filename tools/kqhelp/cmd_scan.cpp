// kqhelp scan: the analyst's pass over files and trees. Each regular file is
// read once: its format, size, CRC-32, entry point, sections, overlay, every
// hidden executable and known-list match. N workers share the loaded module,
// each with its own host (files, blocks and known list are per host).
#include <dirent.h>
#include <inttypes.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <set>
#include <thread>

#include "commands.h"
#include "formats.h"
#include "hidden.h"

namespace kqtool {
namespace {

struct walk {
    bool recursive = false;
    uint64_t max_size = 0;  // 0: no limit
    std::vector<std::string> files;
    std::set<std::pair<dev_t, ino_t>> dirs;  // each directory once: no loops through bind mounts
    uint64_t special = 0, links = 0, too_big = 0;
};

// Operands are followed when they are symbolic links; links inside a tree
// are skipped (as grep -r does), so no link can lead into a loop.
void add(const tool &t, const std::string &path, bool operand, walk &w) {
    struct stat st;
    if (path == "-") {
        w.files.push_back(path);
        return;
    }
    if ((operand ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) {
        t.fail(path.c_str(), "%s", strerror(errno));
        return;
    }
    if (S_ISLNK(st.st_mode)) {
        w.links++;
    } else if (S_ISREG(st.st_mode)) {
        if (w.max_size && uint64_t(st.st_size) > w.max_size) w.too_big++;
        else w.files.push_back(path);
    } else if (!S_ISDIR(st.st_mode)) {
        w.special++;
    } else if (!w.recursive) {
        t.fail(path.c_str(), "is a directory (scan trees with -r)");
    } else if (w.dirs.insert({st.st_dev, st.st_ino}).second) {
        DIR *d = opendir(path.c_str());
        if (!d) {
            t.fail(path.c_str(), "%s", strerror(errno));
            return;
        }
        std::vector<std::string> names;
        while (const dirent *e = readdir(d))
            if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.push_back(e->d_name);
        closedir(d);
        std::sort(names.begin(), names.end());
        const std::string prefix = path.back() == '/' ? path : path + "/";
        for (const std::string &n : names) add(t, prefix + n, false, w);
    }
}

struct tally {
    std::mutex lock;
    std::map<std::string, uint64_t> formats;
    uint64_t findings = 0, files_with_findings = 0, done = 0;
    std::atomic<uint64_t> bytes{0};
};

std::string describe(const tool &t, const char *path, scan_file *file, uint32_t handle, tally &sums,
                     const char *known_list) {
    const file_facts f = identify(t, file);
    uint32_t crc = 0;
    std::vector<hidden> found;
    bool truncated = false;
    hidden_search how;
    how.crc32 = &crc;
    how.bytes = &sums.bytes;
    if (!find_hidden(t, path, file, handle, how, &found, &truncated)) return "";
    // A plain header at offset 0 is the file itself, not something hidden in it.
    found.erase(std::remove_if(found.begin(), found.end(),
                               [](const hidden &h) { return h.scheme == "plain" && h.offset == 0; }),
                found.end());
    const bool known = known_list && t.call<SLOT_KNOWN_FILE_MATCH>(file) != 0;
    {
        std::lock_guard<std::mutex> lock(sums.lock);
        sums.formats[f.format]++;
        sums.findings += found.size() + known;
        sums.files_with_findings += !found.empty() || known;
    }
    if (!found.empty() || known) t.found();
    if (t.json) {
        json j = record(t, path);
        j.str("format", f.format).num("size", file->size).hex("crc32", crc);
        f.entry_known ? j.hex("entry_offset", f.entry_offset) : j.null("entry_offset");
        f.has_sections ? j.num("sections", f.sections) : j.null("sections");
        if (f.has_overlay) j.hex("overlay_offset", f.overlay_offset).num("overlay_size", f.overlay_size);
        std::vector<std::string> items;
        for (const hidden &h : found) {
            json e;
            e.str("scheme", h.scheme);
            h.located ? e.hex("offset", h.offset) : e.null("offset");
            h.key_known ? e.str("key", key_hex(h)) : e.null("key");
            items.push_back(e.text());
        }
        j.raw("hidden", json_list(items)).flag("truncated", truncated);
        if (known_list) j.flag("known", known);
        return j.text() + "\n";
    }
    const std::string name = shown(path);
    char line[160];
    snprintf(line, sizeof line, ": %s, %" PRIu64 " bytes, crc32 %08" PRIx32, f.format.c_str(), file->size, crc);
    std::string out = name + line;
    if (f.entry_known) out += ", entry at " + hex(f.entry_offset);
    if (f.has_sections) out += ", " + std::to_string(f.sections) + " sections";
    if (f.has_overlay) out += ", overlay at " + hex(f.overlay_offset) + " (" + std::to_string(f.overlay_size) + " bytes)";
    out += "\n";
    for (const hidden &h : found) {
        out += name + ": hidden " + h.scheme;
        if (h.located) out += " at " + hex(h.offset);
        if (h.key_known) out += ", key " + key_hex(h);
        out += "\n";
    }
    if (truncated) out += name + ": more hidden executables not looked for\n";
    if (known) out += name + ": on the known-file list\n";
    return out;
}

double seconds_since(const timespec &start) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec - start.tv_sec) + double(now.tv_nsec - start.tv_nsec) / 1e9;
}

int run(tool &t, const arguments &a) {
    uint64_t jobs = std::max(1u, std::thread::hardware_concurrency());
    walk w;
    w.recursive = a.has("-r");
    const char *jobs_text = a.value("-j"), *max_text = a.value("--max-size"), *list = a.value("--known");
    if ((jobs_text && (!parse_u64(jobs_text, &jobs) || jobs == 0 || jobs > 256)) ||
        (max_text && !parse_u64(max_text, &w.max_size))) {
        fprintf(stderr, "kqhelp scan: -j takes 1 to 256 and --max-size a number of bytes\n");
        return EXIT_USAGE;
    }
    if (list && kqhost_load_size_list(t.host, list) != 0) {
        fprintf(stderr, "kqhelp: %s\n", shown(kqhost_last_error(t.host)).c_str());
        return EXIT_USAGE;
    }
    const bool quiet = a.has("-q"), sorted = a.has("--sort");
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (const char *path : a.operands) add(t, path, true, w);

    const size_t n = w.files.size();
    std::vector<std::string> results(n);
    std::vector<bool> ready(n);
    size_t printed = 0;  // with --sort: results [0, printed) are out
    std::atomic<size_t> next{0};
    std::atomic<size_t> workers_left{size_t(std::min<uint64_t>(jobs, std::max<size_t>(n, 1)))};
    tally sums;
    std::mutex order;
    std::condition_variable finished;

    auto worker = [&] {
        tool own = t;  // its own host over the one loaded module
        own.host = kqhost_create();
        kqhost_use_linked_module(own.host, kqhost_module_info(t.host), t.api);
        if (list) kqhost_load_size_list(own.host, list);
        for (size_t i; (i = next++) < n;) {
            std::string text;
            own.capture = &text;
            uint32_t handle = 0;
            if (scan_file *file = own.open(w.files[i].c_str(), &handle)) {
                text += describe(own, w.files[i].c_str(), file, handle, sums, list);
                own.close(file, handle);
            }
            std::lock_guard<std::mutex> lock(order);
            sums.done++;
            if (!sorted) {
                fputs(text.c_str(), stdout);
                continue;
            }
            results[i] = std::move(text);
            ready[i] = true;
            for (; printed < n && ready[printed]; printed++) {
                fputs(results[printed].c_str(), stdout);
                std::string().swap(results[printed]);
            }
        }
        kqhost_destroy(own.host);
        std::lock_guard<std::mutex> lock(order);
        if (--workers_left == 0) finished.notify_all();
    };
    std::vector<std::thread> threads;
    for (size_t j = workers_left; j > 0; j--) threads.emplace_back(worker);

    const bool progress = !quiet && isatty(2);
    {
        std::unique_lock<std::mutex> lock(order);
        while (!finished.wait_for(lock, std::chrono::milliseconds(250), [&] { return workers_left == 0; }))
            if (progress) {
                const double s = seconds_since(start), mb = double(sums.bytes) / 1e6;
                fprintf(stderr, "\r%" PRIu64 "/%zu files, %.1f MB, %.1f MB/s, %.1f s ", sums.done, n, mb,
                        s > 0 ? mb / s : 0.0, s);
            }
    }
    for (std::thread &th : threads) th.join();
    if (progress) fputs("\r\033[K", stderr);

    const double s = seconds_since(start);
    std::string formats;
    json by_format;
    for (const auto &[name, count] : sums.formats) {
        formats += (formats.empty() ? "" : ", ") + name + " " + std::to_string(count);
        by_format.num(name.c_str(), count);
    }
    if (t.json)
        t.emit(record(t, nullptr).raw("summary", json().num("files", sums.done).num("bytes", sums.bytes)
                                                     .raw("formats", by_format.text()).num("findings", sums.findings)
                                                     .num("files_with_findings", sums.files_with_findings)
                                                     .num("special_skipped", w.special).num("links_skipped", w.links)
                                                     .num("larger_than_max_size", w.too_big)
                                                     .flag("errors", t.state->error).text()).text());
    if (!quiet)
        fprintf(stderr,
                "kqhelp scan: %" PRIu64 " files, %.1f MB in %.2f s (%s); %" PRIu64 " findings in %" PRIu64
                " files; %s; skipped: %" PRIu64 " special files, %" PRIu64 " symbolic links, %" PRIu64
                " larger than --max-size\n",
                sums.done, double(sums.bytes) / 1e6, s, formats.empty() ? "no files" : formats.c_str(), sums.findings,
                sums.files_with_findings, t.state->error ? "errors (see above)" : "no errors", w.special, w.links,
                w.too_big);
    return EXIT_OK;
}

constexpr option options[] = {
    {"-r", nullptr, "descend into directories (symbolic links inside them are skipped)"},
    {"-j", "N", "N worker threads (default: the number of processors)"},
    {"--known", "LIST", "also match files against a known-file list"},
    {"--max-size", "N", "skip files larger than N bytes (counted)"},
    {"--sort", nullptr, "print files in the order of the walk (names sorted), whatever finishes first"},
    {"-q", nullptr, "no progress and no summary on standard error"},
    {nullptr, nullptr, nullptr}};

}  // namespace

extern const command cmd_scan = {"scan", "PATH...",
                                 "format, CRC-32, entry, hidden executables and known-list matches of files and trees",
                                 options, 1, -1, outcome::scanner, run};

}  // namespace kqtool
