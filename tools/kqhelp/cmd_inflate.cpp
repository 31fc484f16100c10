// kqhelp inflate: the decompressed bytes of a zlib stream on stdout, through
// the table's inflate slots. Without --raw-size the file is streamed through
// slots 39-41 in small pieces; with --raw-size N it is decompressed in one
// call of slot 43 into a buffer of N bytes (the raw size a container records).
#include <errno.h>
#include <limits.h>
#include <string.h>

#include <vector>

#include "tool.h"

namespace kqtool {
namespace {

constexpr size_t chunk = 16384;

bool write_out(const uint8_t *data, size_t n) { return n == 0 || fwrite(data, 1, n, stdout) == n; }

int report_failure(tool &t, const char *path, int status, const z_stream *zs) {
    const char *detail = zs && zs->msg ? zs->msg : nullptr;
    switch (status) {
    case Z_DATA_ERROR:
        t.error(path, "corrupt zlib stream%s%s", detail ? ": " : "", detail ? detail : "");
        break;
    case Z_NEED_DICT:
        t.error(path, "the stream needs a preset dictionary");
        break;
    case Z_MEM_ERROR:
        t.error(path, "out of memory");
        break;
    default:
        t.error(path, "inflate failed with status %d", status);
        break;
    }
    return EXIT_FILE_ERROR;
}

int stream(tool &t, const char *path, FILE *in) {
    auto init = t.slot<inflate_init_fn>(SLOT_INFLATE_INIT);
    auto step = t.slot<inflate_fn>(SLOT_INFLATE);
    auto end = t.slot<inflate_end_fn>(SLOT_INFLATE_END);

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
            t.error(path, ferror(in) ? "read error" : "the zlib stream is truncated");
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
            if (!write_out(output.data(), chunk - zs.avail_out)) {
                t.error(nullptr, "write error on stdout");
                result = EXIT_FILE_ERROR;
                break;
            }
            done = status == Z_STREAM_END;
        } while (!done && zs.avail_out == 0);
    }
    if (done && (zs.avail_in > 0 || fgetc(in) != EOF))
        fprintf(stderr, "%s: %s: bytes after the end of the zlib stream were ignored\n", t.program, path);
    end(&zs);
    return result;
}

int whole(tool &t, const char *path, FILE *in, uint64_t raw_size) {
    std::vector<uint8_t> input;
    uint8_t piece[chunk];
    for (size_t got; (got = fread(piece, 1, sizeof piece, in)) > 0;) input.insert(input.end(), piece, piece + got);
    if (ferror(in)) {
        t.error(path, "read error");
        return EXIT_FILE_ERROR;
    }
    if (input.size() > ULONG_MAX) {
        t.error(path, "the file is too large for one call");
        return EXIT_FILE_ERROR;
    }
    std::vector<uint8_t> output(raw_size ? raw_size : 1);
    uLongf length = static_cast<uLongf>(raw_size);
    const int status = t.slot<uncompress_fn>(SLOT_UNCOMPRESS)(output.data(), &length, input.data(),
                                                              static_cast<uLong>(input.size()));
    if (status == Z_BUF_ERROR) {
        t.error(path, "the stream decompresses to more than %llu bytes", static_cast<unsigned long long>(raw_size));
        return EXIT_FILE_ERROR;
    }
    if (status != Z_OK) return report_failure(t, path, status, nullptr);
    if (!write_out(output.data(), length)) {
        t.error(nullptr, "write error on stdout");
        return EXIT_FILE_ERROR;
    }
    return EXIT_OK;
}

}  // namespace

int cmd_inflate(tool &t, int argc, char **argv) {
    const char *path = nullptr;
    bool have_raw_size = false;
    uint64_t raw_size = 0;
    for (int i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--raw-size") && i + 1 < argc) {
            if (!parse_u64(argv[++i], &raw_size) || raw_size > ULONG_MAX || raw_size > SIZE_MAX / 2) {
                fprintf(stderr, "kqhelp inflate: bad raw size '%s'\n", argv[i]);
                return EXIT_USAGE;
            }
            have_raw_size = true;
        } else if (!path && (argv[i][0] != '-' || !argv[i][1])) {
            path = argv[i];
        } else {
            path = nullptr;
            break;
        }
    }
    if (!path || argc < 2) {
        fprintf(stderr, "usage: kqhelp inflate [--raw-size N] FILE   (FILE may be - for stdin)\n");
        return EXIT_USAGE;
    }
    FILE *in = strcmp(path, "-") ? fopen(path, "rb") : stdin;
    if (!in) {
        t.error(path, "%s", strerror(errno));
        return EXIT_FILE_ERROR;
    }
    const int result = have_raw_size ? whole(t, path, in, raw_size) : stream(t, path, in);
    if (in != stdin) fclose(in);
    if (fflush(stdout) != 0 && result == EXIT_OK) {
        t.error(nullptr, "write error on stdout");
        return EXIT_FILE_ERROR;
    }
    return result;
}

}  // namespace kqtool
