// kqhelp xor: looks for an executable header hidden by XOR, addition or
// widening in each file, a window at a time. Windows overlap by 64 KiB, so a
// header that straddles a window edge is whole in the next window.
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "tool.h"

namespace kqtool {
namespace {

constexpr uint64_t window_size = 1 << 20;
constexpr uint64_t window_overlap = 64 << 10;  // a multiple of 16: keys stay aligned
constexpr uint64_t window_step = window_size - window_overlap;

struct finding {
    bool found = false;         // something was detected
    bool located = false;       // offset is known
    uint64_t offset = 0;        // file offset of the header
    std::string scheme;         // plain, xor8, xor32, xor128, add8, add32, widened
    bool key_known = false;
    std::vector<uint8_t> key;   // the key bytes, applied from file offset 0
};

bool read_file(const char *path, std::vector<uint8_t> *out) {
    FILE *f = fopen(path, "rb");
    if (!f) return false;
    uint8_t chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) out->insert(out->end(), chunk, chunk + got);
    const bool ok = !ferror(f);
    fclose(f);
    return ok;
}

const char *scheme_text(const std::string &s) {
    if (s == "plain") return "plain header";
    if (s == "xor8") return "one-byte XOR";
    if (s == "xor32") return "four-byte XOR";
    if (s == "xor128") return "sixteen-byte XOR";
    if (s == "add8") return "one-byte addition";
    if (s == "add32") return "four-byte addition (or four-byte XOR whose header cannot be located)";
    if (s == "xor32-unlocated") return "four-byte XOR, header not located";
    if (s == "widened") return "widened to 16 bits";
    return "encoded executable";
}

// The scanner tells "detected" without saying how: the decoded buffer it
// leaves and the source show which scheme it was.
void classify_detected(const tool &t, const uint8_t *src, const uint8_t *dec, uint64_t n, uint8_t key_byte,
                       uint64_t base, finding *f) {
    auto check = t.slot<xordetect_check_header_fn>(SLOT_XORDETECT_CHECK_HEADER);
    if (key_byte == 0) {  // only a zero four-byte XOR key leaves the key byte 0
        f->scheme = "xor32-unlocated";
        return;
    }
    for (uint64_t m = 0; m + 510 < n; m++) {
        if (dec[m] != 'M' || dec[m + 1] != 'Z' || !check(dec + m, uint32_t(n - m))) continue;
        f->located = true;
        f->offset = base + m;
        bool periodic = true;  // sixteen-byte XOR decodes the words from offset 0
        for (uint64_t j = 16; j + 4 < n && periodic; j++)
            periodic = (src[j] ^ dec[j]) == (src[j % 16] ^ dec[j % 16]);
        f->key_known = true;
        if (periodic) {
            f->scheme = "xor128";
            for (int j = 0; j < 16; j++) f->key.push_back(src[j] ^ dec[j]);
        } else {
            f->scheme = "add8";
            f->key.push_back(uint8_t(src[m] - dec[m]));
        }
        return;
    }
    static const uint8_t wide[12] = {0x50, 0, 0x45, 0, 0, 0, 0, 0, 0x4C, 0, 1, 0};
    for (uint64_t i = 0; i + 16 < n; i++)
        if (memcmp(src + i, wide, 12) == 0) {
            f->scheme = "widened";
            return;
        }
    f->scheme = "add32";
}

finding scan_file_bytes(const tool &t, const std::vector<uint8_t> &data) {
    auto scan = t.slot<xordetect_scan_buffer_fn>(SLOT_XORDETECT_SCAN_BUFFER);
    finding f;
    std::vector<uint8_t> src, dec;
    for (uint64_t base = 0; base < data.size(); base += window_step) {
        const uint64_t n = std::min<uint64_t>(window_size, data.size() - base);
        if (n < 512 || (base > 0 && base + window_overlap >= data.size())) break;
        src.assign(data.begin() + base, data.begin() + base + n);
        dec.assign(n, 0);
        uint8_t key_byte = 0;
        uint32_t key_word = 0;
        const int32_t r = scan(src.data(), dec.data(), &key_byte, &key_word, uint32_t(n));
        if (r >= 0) {
            f.found = f.located = f.key_known = true;
            f.offset = base + uint64_t(r);
            if (key_byte) {
                f.scheme = "xor8";
                f.key.push_back(key_byte);
            } else if (key_word) {
                f.scheme = "xor32";
                for (int j = 0; j < 4; j++) f.key.push_back(uint8_t(key_word >> (8 * j)));
            } else {
                f.scheme = "plain";
                f.key_known = false;
            }
            return f;
        }
        if (key_word == 1) {
            f.found = true;
            classify_detected(t, src.data(), dec.data(), n, key_byte, base, &f);
            return f;
        }
        if (key_word != 0) {  // a header repaired one byte past the last position
            f.found = true;
            f.scheme = "xor32";
            f.key_known = true;
            for (int j = 0; j < 4; j++) f.key.push_back(uint8_t(key_word >> (8 * j)));
            return f;
        }
    }
    return f;
}

std::string key_hex(const finding &f) {
    std::string s = "0x";
    char two[3];
    // four-byte keys read as the little-endian word; others byte by byte
    if (f.key.size() == 4)
        for (int j = 3; j >= 0; j--) snprintf(two, sizeof two, "%02x", f.key[j]), s += two;
    else
        for (uint8_t c : f.key) snprintf(two, sizeof two, "%02x", c), s += two;
    return s;
}

bool write_decoded(const char *out, const std::vector<uint8_t> &data, const finding &f) {
    std::vector<uint8_t> plain(data);
    const size_t k = f.key.size();
    for (size_t j = 0; j < plain.size(); j++) {
        if (f.scheme == "add8") plain[j] = uint8_t(plain[j] - f.key[0]);
        else if (k) plain[j] ^= f.key[j % k];
    }
    FILE *o = fopen(out, "wb");
    if (!o) return false;
    const bool ok = fwrite(plain.data(), 1, plain.size(), o) == plain.size();
    return fclose(o) == 0 && ok;
}

}  // namespace

int cmd_xor(tool &t, int argc, char **argv) {
    bool json = false;
    const char *decode_out = nullptr;
    int first = 1;
    for (; first < argc && argv[first][0] == '-'; first++) {
        if (strcmp(argv[first], "--json") == 0) {
            json = true;
        } else if (strcmp(argv[first], "--decode") == 0 && first + 1 < argc) {
            decode_out = argv[++first];
        } else {
            fprintf(stderr, "usage: kqhelp xor [--json] [--decode OUT] FILE...\n");
            return EXIT_USAGE;
        }
    }
    if (first >= argc || (decode_out && argc - first != 1)) {
        fprintf(stderr, "usage: kqhelp xor [--json] [--decode OUT] FILE...  (--decode takes one FILE)\n");
        return EXIT_USAGE;
    }
    int status = EXIT_OK;
    for (int i = first; i < argc; i++) {
        std::vector<uint8_t> data;
        if (!read_file(argv[i], &data)) {
            t.error(argv[i], "cannot read");
            status = EXIT_FILE_ERROR;
            continue;
        }
        const finding f = scan_file_bytes(t, data);
        if (json) {
            printf("{\"file\": %s, \"found\": %s", json_string(argv[i]).c_str(), f.found ? "true" : "false");
            if (f.found) printf(", \"scheme\": \"%s\"", f.scheme.c_str());
            if (f.located) printf(", \"offset\": %" PRIu64, f.offset);
            if (f.key_known) printf(", \"key\": \"%s\"", key_hex(f).c_str());
            printf("}\n");
        } else if (!f.found) {
            printf("%s: nothing found\n", argv[i]);
        } else {
            printf("%s: %s", argv[i], scheme_text(f.scheme));
            if (f.located) printf(" at offset %" PRIu64, f.offset);
            if (f.key_known) printf(", key %s", key_hex(f).c_str());
            printf("\n");
        }
        if (decode_out) {
            if (!f.key_known && f.scheme != "plain") {
                t.error(argv[i], "no key known, nothing decoded");
                status = EXIT_FILE_ERROR;
            } else if (!write_decoded(decode_out, data, f)) {
                t.error(decode_out, "cannot write");
                status = EXIT_FILE_ERROR;
            }
        }
    }
    return status;
}

}  // namespace kqtool
