// kqhelp xor: executables hidden by XOR, addition or widening in each file.
#include <inttypes.h>

#include <memory>

#include "commands.h"
#include "hidden.h"

namespace kqtool {
namespace {

// Writes the whole file decoded with the finding's key to out, a piece at a time.
void write_decoded(const tool &t, const char *path, scan_file *file, uint32_t handle, const hidden &h,
                   const char *out) {
    FILE *o = fopen(out, "wb");
    if (!o) {
        t.fail(out, "cannot create: %s", strerror(errno));
        return;
    }
    constexpr uint64_t piece = 1 << 16;  // a multiple of every key length
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[piece]);
    bool ok = true;
    for (uint64_t at = 0; ok && at < file->size; at += piece) {
        const uint64_t n = std::min(piece, file->size - at);
        if (!t.read_at(file, handle, at, buffer.get(), n)) {
            t.fail(path, "read failed at offset %" PRIu64, at);
            break;
        }
        for (uint64_t j = 0; j < n && !h.key.empty(); j++) {
            if (h.scheme == "add8") buffer[j] = uint8_t(buffer[j] - h.key[0]);
            else buffer[j] ^= h.key[j % h.key.size()];
        }
        ok = fwrite(buffer.get(), 1, n, o) == n;
    }
    if (fclose(o) != 0 || !ok) t.fail(out, "write failed");
}

int run(tool &t, const arguments &a) {
    const char *decode = a.value("--decode");
    if (decode && a.operands.size() != 1) {
        fprintf(stderr, "kqhelp xor: --decode takes one FILE\n");
        return EXIT_USAGE;
    }
    t.for_each_file(a, [&](const char *path, scan_file *file, uint32_t handle) {
        std::vector<hidden> found;
        bool truncated = false;
        if (!find_hidden(t, path, file, handle, hidden_search{}, &found, &truncated)) return;
        if (!found.empty()) t.found();
        if (t.json) {
            std::vector<std::string> items;
            for (const hidden &h : found) {
                json j;
                j.str("scheme", h.scheme);
                if (h.located) j.hex("offset", h.offset);
                if (h.key_known) j.str("key", key_hex(h));
                items.push_back(j.text());
            }
            t.emit(record(t, path).flag("found", !found.empty()).raw("findings", json_list(items))
                       .flag("truncated", truncated).text());
        } else if (found.empty()) {
            printf("%s: nothing found\n", shown(path).c_str());
        }
        for (const hidden &h : t.json ? std::vector<hidden>{} : found) {
            printf("%s: %s", shown(path).c_str(), scheme_text(h.scheme));
            if (h.located) printf(" at offset %" PRIu64, h.offset);
            if (h.key_known) printf(", key %s", key_hex(h).c_str());
            printf("\n");
        }
        if (truncated && !t.json) printf("%s: more findings not looked for\n", shown(path).c_str());
        if (!decode) return;
        if (found.empty() || (!found[0].key_known && found[0].scheme != "plain"))
            t.fail(path, "no key known, nothing decoded");
        else
            write_decoded(t, path, file, handle, found[0], decode);
    });
    return EXIT_OK;
}

constexpr option options[] = {
    {"--decode", "OUT", "write the file decoded with the first finding's key to OUT (one FILE)"},
    {nullptr, nullptr, nullptr}};

}  // namespace

extern const command cmd_xor = {"xor", "FILE...", "executables hidden by XOR, addition or widening", options, 1, -1,
                                outcome::predicate, run};

}  // namespace kqtool
