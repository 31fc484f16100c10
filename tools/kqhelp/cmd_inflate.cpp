// kqhelp inflate: the decompressed bytes of a zlib stream on stdout, through
// the table's inflate slots. Without --raw-size the file is streamed through
// slots 39-41 in small pieces; with --raw-size N it is decompressed in one
// call of slot 43 into a buffer of N bytes (the raw size a container records).
#include <errno.h>
#include <limits.h>
#include <string.h>

#include <vector>

#include <inttypes.h>
#include <unistd.h>

#include "commands.h"

namespace kqtool {
namespace {

constexpr size_t chunk = 16384;

// With --json nothing is written: the record tells the inflated size.
uint64_t inflated = 0;
bool write_out(const tool &t, const uint8_t *data, size_t n) {
    inflated += n;
    return t.json || n == 0 || fwrite(data, 1, n, stdout) == n;
}

int report_failure(const tool &t, const char *path, int status, const z_stream *zs) {
    const char *detail = zs && zs->msg ? zs->msg : nullptr;
    switch (status) {
    case Z_DATA_ERROR:
        t.fail(path, "corrupt zlib stream%s%s", detail ? ": " : "", detail ? detail : "");
        break;
    case Z_NEED_DICT:
        t.fail(path, "the stream needs a preset dictionary");
        break;
    case Z_MEM_ERROR:
        t.fail(path, "out of memory");
        break;
    default:
        t.fail(path, "inflate failed with status %d", status);
        break;
    }
    return EXIT_FILE_ERROR;
}

int stream(tool &t, const char *path, FILE *in) {
    auto init = kqhelp::slot<SLOT_INFLATE_INIT>(t.api);
    auto step = kqhelp::slot<SLOT_INFLATE>(t.api);
    auto end = kqhelp::slot<SLOT_INFLATE_END>(t.api);

    z_stream zs;
    memset(&zs, 0, sizeof zs);
    int status = init(&zs, ZLIB_VERSION, static_cast<int>(sizeof zs));
    if (status != Z_OK) return report_failure(t, path, status, nullptr);

    std::vector<uint8_t> input(chunk), output(chunk);
    int result = EXIT_OK;
    bool done = false;
    while (!done && result == EXIT_OK) {
        const size_t got = fread(input.data(), 1, chunk, in);
        if (got == 0) {
            t.fail(path, ferror(in) ? "read error" : "the zlib stream is truncated");
            result = EXIT_FILE_ERROR;
            break;
        }
        zs.next_in = input.data();
        zs.avail_in = static_cast<uInt>(got);
        do {  // drain all output this input produces
            zs.next_out = output.data();
            zs.avail_out = static_cast<uInt>(chunk);
            status = step(&zs, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
                result = report_failure(t, path, status, &zs);
                break;
            }
            if (!write_out(t, output.data(), chunk - zs.avail_out)) {
                t.fail(nullptr, "write error on stdout");
                result = EXIT_FILE_ERROR;
                break;
            }
            done = status == Z_STREAM_END;
        } while (!done && zs.avail_out == 0);
    }
    if (done && (zs.avail_in > 0 || fgetc(in) != EOF))
        fprintf(stderr, "kqhelp: %s: bytes after the end of the zlib stream were ignored\n", shown(path).c_str());
    end(&zs);
    return result;
}

int whole(tool &t, const char *path, FILE *in, uint64_t raw_size) {
    std::vector<uint8_t> input;
    uint8_t piece[chunk];
    for (size_t got; (got = fread(piece, 1, sizeof piece, in)) > 0;) input.insert(input.end(), piece, piece + got);
    if (ferror(in)) {
        t.fail(path, "read error");
        return EXIT_FILE_ERROR;
    }
    if (input.size() > ULONG_MAX) {
        t.fail(path, "the file is too large for one call");
        return EXIT_FILE_ERROR;
    }
    std::vector<uint8_t> output(raw_size ? raw_size : 1);
    uLongf length = static_cast<uLongf>(raw_size);
    const int status = t.call<SLOT_UNCOMPRESS>(output.data(), &length, input.data(),
                                                              static_cast<uLong>(input.size()));
    if (status == Z_BUF_ERROR) {
        t.fail(path, "the stream decompresses to more than %llu bytes", static_cast<unsigned long long>(raw_size));
        return EXIT_FILE_ERROR;
    }
    if (status != Z_OK) return report_failure(t, path, status, nullptr);
    if (!write_out(t, output.data(), length)) {
        t.fail(nullptr, "write error on stdout");
        return EXIT_FILE_ERROR;
    }
    return EXIT_OK;
}

int run(tool &t, const arguments &a) {
    uint64_t raw_size = 0;
    const char *raw = a.value("--raw-size");
    if (raw && (!parse_u64(raw, &raw_size) || raw_size > ULONG_MAX || raw_size > SIZE_MAX / 2)) {
        fprintf(stderr, "kqhelp inflate: bad raw size '%s'\n", shown(raw).c_str());
        return EXIT_USAGE;
    }
    const char *path = a.operands[0];
    const int fd = t.open_input(path, false);
    FILE *in = fd < 0 ? nullptr : fdopen(fd, "rb");
    if (!in) return EXIT_OK;
    const int result = raw ? whole(t, path, in, raw_size) : stream(t, path, in);
    fclose(in);
    if (result == EXIT_OK && t.json) t.emit(record(t, path).num("inflated_size", inflated).text());
    return EXIT_OK;
}

constexpr option options[] = {
    {"--raw-size", "N", "decompress in one call into N bytes (the raw size a container records)"},
    {nullptr, nullptr, nullptr}};

}  // namespace

extern const command cmd_inflate = {"inflate", "FILE", "decompress a zlib stream to standard output", options, 1, 1,
                                    outcome::report, run};

}  // namespace kqtool
