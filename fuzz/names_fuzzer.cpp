// Slots 60-62, 44, 45, 71 and xor_string_copy against literal models, on
// strings from the input, each placed right before an unreadable page so that
// a read one byte too far faults.
#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <iterator>
#include <string>
#include <vector>

#include "linked_host.h"

namespace {

// A string of n bytes ending at a guard page (three areas, for up to three arguments).
const uint8_t *guarded(int area, const uint8_t *bytes, size_t n) {
    static uint8_t *areas[3];
    static const size_t page = size_t(sysconf(_SC_PAGESIZE));
    if (!areas[area]) {
        void *map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        FUZZ_REQUIRE(map != MAP_FAILED);
        areas[area] = static_cast<uint8_t *>(map);
        FUZZ_REQUIRE(mprotect(areas[area] + page, page, PROT_NONE) == 0);
    }
    uint8_t *at = areas[area] + page - n;
    if (n) memcpy(at, bytes, n);
    return at;
}

// A NUL-terminated string from the input: raw bytes, or a word of the lists
// with a suffix, in a case the input picks.
std::string word(fuzz_input &in) {
    static const char *const words[] = {"appl/", "spr/", "game/", "joke/", "dial/", "adspy/", "heur/", "heuristic/",
                                        "pck/", "hidden-ext/", ".EXE", ".HTML", ".JPEG", ".CMD", ".PHP", ".TXT"};
    size_t n = 0;
    const uint8_t *raw = in.take(24, &n);
    std::string s(reinterpret_cast<const char *>(raw), n);
    const uint8_t pick = in.u8();
    if (pick < 2 * std::size(words)) s = std::string(words[pick / 2]).substr(0, pick & 1 ? 3 : 99) + s;
    if (in.u8() & 1) for (char &c : s) c = char(toupper(uint8_t(c)));
    return s.substr(0, strlen(s.c_str()));  // up to the first NUL
}

int32_t has_category(const std::string &s) {
    static const char *const prefixes[] = {"appl/", "spr/", "game/", "joke/", "dial/",
                                           "adspy/", "heur/", "heuristic/", "pck/", "hidden-ext/"};
    for (const char *p : prefixes)
        if (strncasecmp(s.c_str(), p, strlen(p)) == 0) return 1;
    return 0;
}

int32_t listed(const std::string &s, bool documents) {
    static const char *const executable = " .EXE .COM .BAT .PIF .SYS .LNK .VBS .CPL .SCR .CMD ";
    static const char *const document = " .AVI .BMP .DOC .GIF .JPG .PNG .WMV .MP3 .MPG .PDF .PPT .RAR .RTF .SWF .TIF"
                                        " .TXT .WAV .XLS .ZIP .JPEG .MPEG .HTM .HTML .PHP .BAT .PIF .LNK .VBS .CMD ";
    if (s.empty() || s.find(' ') != std::string::npos) return 0;
    return strstr(documents ? document : executable, (" " + s + " ").c_str()) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_input in{data, size};
    kqhost_reset_peak(fuzz_host());
    while (!in.empty()) {
        const uint8_t op = in.u8() % 5;
        if (op == 0) {  // names and extensions
            const std::string s = word(in);
            const char *g = reinterpret_cast<const char *>(guarded(0, reinterpret_cast<const uint8_t *>(s.c_str()), s.size() + 1));
            FUZZ_REQUIRE(kqhelp::call<SLOT_NAME_HAS_CATEGORY_PREFIX>(fuzz_api(), g) == has_category(s));
            FUZZ_REQUIRE(kqhelp::call<SLOT_EXT_IN_EXECUTABLE_LIST>(fuzz_api(), g) == listed(s, false));
            FUZZ_REQUIRE(kqhelp::call<SLOT_EXT_IN_DOCUMENT_LIST>(fuzz_api(), g) == listed(s, true));
        } else if (op == 1) {  // slot 44: a stored XOR 0x71 against b plain, n bytes
            size_t n = 0, m = 0;
            const uint8_t *a = in.take(32, &n);
            const uint8_t *b = in.take(32, &m);
            const size_t k = std::min(n, m);
            int32_t expect = 0;
            for (size_t i = 0; i < k; i++)
                if (uint8_t(a[i] ^ 0x71) != b[i]) expect = -1;
            const int32_t count = (in.u8() & 1) ? int32_t(k) : -int32_t(in.u8());
            if (count <= 0) expect = 0;
            FUZZ_REQUIRE(kqhelp::call<SLOT_SCRAMBLED_COMPARE>(fuzz_api(), guarded(0, a, k), guarded(1, b, k), count) == expect);
        } else if (op <= 3) {  // slots 71 and 45: length, wildcard, bytes; 45 stores all of it XOR 0x71
            const uint8_t key = op == 3 ? 0x71 : 0;
            size_t n = 0;
            const uint8_t *body = in.take(40, &n);
            std::vector<uint8_t> pattern(2 + n);
            pattern[0] = uint8_t(n ^ key), pattern[1] = in.u8();
            if (n) memcpy(&pattern[2], body, n);
            std::vector<uint8_t> text(n);
            int32_t expect = 1;
            for (size_t i = 0; i < n; i++) {
                const uint8_t want = body[i] ^ key, wildcard = pattern[1] ^ key;
                text[i] = (in.u8() & 3) ? want : in.u8();
                if (want != wildcard && want != text[i]) expect = 0;
            }
            const uint8_t *g_text = guarded(0, text.data(), n), *g_pattern = guarded(1, pattern.data(), pattern.size());
            const int32_t got = op == 3 ? kqhelp::call<SLOT_SCRAMBLED_PATTERN_MATCH>(fuzz_api(), g_text, g_pattern)
                                        : kqhelp::call<SLOT_PATTERN_MATCH>(fuzz_api(), g_text, g_pattern);
            FUZZ_REQUIRE(got == expect);
        } else {  // xor_string_copy: n bytes XOR 0x2F and a NUL, exactly n + 1 bytes written
            size_t n = 0;
            const uint8_t *source = in.take(40, &n);
            uint8_t out[48];
            memset(out, 0xEE, sizeof out);
            xor_string_copy(guarded(0, source, n), out, uint32_t(n));
            for (size_t i = 0; i < n; i++) FUZZ_REQUIRE(out[i] == (source[i] ^ 0x2F));
            FUZZ_REQUIRE(n == 0 ? out[0] == 0xEE : out[n] == 0);
            for (size_t i = n + 1; i < sizeof out; i++) FUZZ_REQUIRE(out[i] == 0xEE);
        }
    }
    fuzz_check_peak(0);  // none of these take host memory
    return 0;
}
