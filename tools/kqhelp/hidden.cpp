// Windows of 1 MiB overlap by 64 KiB, so a header that straddles a window
// edge is whole in the next window; window starts are multiples of 16, so
// four- and sixteen-byte keys keep their alignment to the file. After a
// located finding the next window starts just past its header, so several
// executables in one file are all found; a file's findings are capped, which
// keeps the work linear in the file size. Memory: two windows.
#include "hidden.h"

#include "formats.h"

#include <inttypes.h>
#include <string.h>

#include <memory>

namespace kqtool {
namespace {

constexpr uint64_t window_size = 1 << 20;
constexpr uint64_t window_overlap = 64 << 10;  // a multiple of 16
constexpr uint64_t window_step = window_size - window_overlap;

// The scanner tells "detected" without saying how: the decoded buffer it
// leaves and the source show which scheme it was.
void classify_detected(const tool &t, const uint8_t *src, const uint8_t *dec, uint64_t n, uint8_t key_byte,
                       uint64_t base, hidden *f) {
    if (key_byte == 0) {  // only a zero four-byte XOR key leaves the key byte 0
        f->scheme = "xor32-unlocated";
        return;
    }
    for (uint64_t m = 0; m + 510 < n; m++) {
        if (dec[m] != 'M' || dec[m + 1] != 'Z' || !t.call<SLOT_XORDETECT_CHECK_HEADER>(dec + m, uint32_t(n - m)))
            continue;
        f->located = f->key_known = true;
        f->offset = base + m;
        bool periodic = true;  // sixteen-byte XOR decodes the words from offset 0
        for (uint64_t j = 16; j + 4 < n && periodic; j++)
            periodic = (src[j] ^ dec[j]) == (src[j % 16] ^ dec[j % 16]);
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

// One window's result, or false when it holds nothing.
bool scan_window(const tool &t, uint8_t *src, uint8_t *dec, uint64_t n, uint64_t base, hidden *f) {
    uint8_t key_byte = 0;
    uint32_t key_word = 0;
    const int32_t r = t.call<SLOT_XORDETECT_SCAN_BUFFER>(src, dec, &key_byte, &key_word, uint32_t(n));
    f->window = base;
    if (r >= 0) {
        f->located = true;
        f->offset = base + uint64_t(r);
        f->key_known = key_byte || key_word;
        if (key_byte) {
            f->scheme = "xor8";
            f->key.push_back(key_byte);
        } else if (key_word) {
            f->scheme = "xor32";
            for (int j = 0; j < 4; j++) f->key.push_back(uint8_t(key_word >> (8 * j)));
        } else {
            f->scheme = "plain";
        }
        return true;
    }
    if (key_word == 1) {
        // A detected-only return leaves in dec what the scanner's phases
        // happened to write, over whatever the last window left there: scan
        // again over zeros so that the classification reads this window only.
        memset(dec, 0, n);
        t.call<SLOT_XORDETECT_SCAN_BUFFER>(src, dec, &key_byte, &key_word, uint32_t(n));
        classify_detected(t, src, dec, n, key_byte, base, f);
        return true;
    }
    if (key_word != 0) {  // a header repaired one byte past the last position
        f->scheme = "xor32";
        f->key_known = true;
        for (int j = 0; j < 4; j++) f->key.push_back(uint8_t(key_word >> (8 * j)));
        return true;
    }
    return false;
}

// The next window start after the finding's headers, within this window.
uint64_t past_header(const hidden &f, const uint8_t *decoded, uint64_t base, uint64_t n) {
    constexpr uint64_t pe_headers = 0xF8;  // signature, file header, PE32 optional header
    const uint64_t at = f.offset - base;
    const uint64_t lfanew = at + 0x40 <= n ? load_le32(decoded + at + 0x3C) : 0;
    const uint64_t end = std::min(at + std::max<uint64_t>(lfanew, 0x40) + pe_headers, n);
    return (base + std::max(end, at + 16) + 15) & ~uint64_t(15);
}

}  // namespace

bool find_hidden(const tool &t, const char *path, scan_file *file, uint32_t handle, const hidden_search &how,
                 std::vector<hidden> *found, bool *truncated) {
    // Each thread keeps its two windows: scan goes through many small files.
    thread_local std::unique_ptr<uint8_t[]> src(new uint8_t[window_size]), dec(new uint8_t[window_size]);
    const uint64_t size = file->size;
    uint64_t checked = 0;  // bytes [0, checked) went into the CRC
    uint32_t crc = 0xFFFFFFFFu;
    *truncated = false;
    for (uint64_t base = 0; base < size;) {
        const uint64_t n = std::min(window_size, size - base);
        if (!t.read_at(file, handle, base, src.get(), n)) {
            t.fail(path, "read failed at offset %" PRIu64, base);
            return false;
        }
        if (base + n > checked) {
            if (how.crc32) crc = t.call<SLOT_CRC32_UPDATE>(crc, src.get() + (checked - base), uint32_t(base + n - checked));
            if (how.bytes) *how.bytes += base + n - checked;
            checked = base + n;
        }
        uint64_t next = base + window_step;
        hidden f;
        if (n >= 512 && !*truncated && scan_window(t, src.get(), dec.get(), n, base, &f)) {
            const bool repeat = !f.located && !found->empty() && !found->back().located &&
                                found->back().scheme == f.scheme && found->back().window + window_step == base;
            if (found->size() == how.max_findings) *truncated = true;
            else if (!repeat) found->push_back(f);
            // Look again past a located header's MS-DOS and PE headers (left
            // there, they would be found again as a header whose MZ is lost):
            // more executables may follow it.
            if (f.located && !*truncated) next = past_header(f, f.scheme == "plain" ? src.get() : dec.get(), base, n);
        }
        if (base + n >= size && next == base + window_step) break;
        if (*truncated && !how.crc32) break;
        base = next;
    }
    if (how.crc32) *how.crc32 = ~crc;
    return true;
}

std::string key_hex(const hidden &h) {
    std::string s = "0x";
    char two[3];
    // four-byte keys read as the little-endian word; others byte by byte
    if (h.key.size() == 4)
        for (int j = 3; j >= 0; j--) snprintf(two, sizeof two, "%02x", h.key[j]), s += two;
    else
        for (uint8_t c : h.key) snprintf(two, sizeof two, "%02x", c), s += two;
    return s;
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

}  // namespace kqtool
