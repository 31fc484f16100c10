// Slots 35-38 and 54-56 against literal models, with operations from the input:
// the four searches with any pattern over any region of a buffer, the Nth host
// allocation of a call failing; CRC-32 and CRC-16 fed in pieces split where
// the input says, equal to the bit-by-bit definitions; and the known-file
// match over a list built from the input.
#include <string>
#include <vector>

#include "../tests/search/naive_search.h"
#include "linked_host.h"

namespace {

uint32_t crc32_bits(uint32_t crc, const uint8_t *p, size_t n) {  // reflected, polynomial 0xEDB88320
    for (size_t i = 0; i < n; i++) {
        crc ^= p[i];
        for (int b = 0; b < 8; b++) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

uint32_t crc16_bits(uint32_t crc, const uint8_t *p, size_t n) {  // augmented CCITT: message bits shifted in
    crc &= 0xFFFF;
    for (size_t i = 0; i < n; i++)
        for (int b = 7; b >= 0; b--) {
            crc = (crc << 1) | ((p[i] >> b) & 1);
            if (crc & 0x10000) crc = (crc ^ 0x1021) & 0xFFFF;
        }
    return crc;
}

void search(fuzz_input &in, const std::vector<uint8_t> &text) {
    kqhost *host = fuzz_host();
    const int which = in.u8() % 4;  // slots 35, 36, 37, 38
    const bool nocase = which == 0 || which == 2, scrambled = which >= 2;
    int32_t m = int32_t(in.u8()) + (in.u8() == 0xFF ? 1 : 0);  // 0-256
    std::vector<uint8_t> pattern(size_t(std::max(m, 1)) + 1);
    if (in.u8() & 1 && !text.empty()) {  // a piece of the text, so that matches happen
        size_t at = in.u16() % text.size();
        for (size_t i = 0; i < pattern.size(); i++) pattern[i] = text[(at + i) % text.size()];
    } else {
        for (uint8_t &b : pattern) b = in.u8();
    }
    int32_t offset = int32_t(in.u16() % (text.size() + 2)) - (in.u8() == 0xFF ? 2 : 0);
    int32_t length = int32_t(in.u16() % (text.size() + 1));
    if (offset >= 0 && size_t(offset) + size_t(length) > text.size()) length = int32_t(text.size()) - std::min(offset, int32_t(text.size()));
    const uint64_t fail_at = in.u8() % 8;

    std::vector<uint8_t> given = pattern;
    if (scrambled) for (uint8_t &b : given) b ^= SEARCH_PATTERN_KEY;
    const int32_t allocations = which == 1 ? 3 : 4;
    int32_t expect;
    if (offset < 0 || length < 0 || m < 1 || m > 255 || !text.data()) expect = SEARCH_BAD_ARGUMENT;
    else if (fail_at && int32_t(fail_at) <= allocations) expect = SEARCH_NO_MEMORY;
    else if (length == 0) expect = SEARCH_NOT_FOUND;
    else expect = kqtest::naive_search(std::string(pattern.begin(), pattern.begin() + m),
                                       std::string(text.begin() + offset, text.begin() + offset + length), nocase);
    static const int slots[] = {SLOT_SEARCH_BUFFER_NOCASE, SLOT_SEARCH_BUFFER, SLOT_SEARCH_BUFFER_SCRAMBLED_NOCASE,
                                SLOT_SEARCH_BUFFER_SCRAMBLED};
    auto fn = reinterpret_cast<search_buffer_fn>(fuzz_api()[slots[which]]);
    kqhost_fail_alloc_at(host, fail_at);
    const int32_t got = fn(kqhost_context(host), kqhost_instance(host), text.data(), given.data(), m, offset, length);
    kqhost_fail_alloc_at(host, 0);
    if (got != expect) fprintf(stderr, "slot %d m %d offset %d length %d: %d, expected %d\n", slots[which], m, offset, length, got, expect);
    FUZZ_REQUIRE(got == expect);
    fuzz_check_peak(fuzz_bound::search);
    fuzz_check_nothing_live();
}

void checksums(fuzz_input &in, const std::vector<uint8_t> &text) {
    uint32_t c32 = in.u32(), c16 = in.u16();
    const uint32_t want32 = crc32_bits(c32, text.data(), text.size()), want16 = crc16_bits(c16, text.data(), text.size());
    for (size_t at = 0; at < text.size();) {
        size_t piece = std::min<size_t>(text.size() - at, in.empty() ? text.size() : in.u8() * 7u);
        c32 = kqhelp::call<SLOT_CRC32_UPDATE>(fuzz_api(), c32, text.data() + at, uint32_t(piece));
        c16 = kqhelp::call<SLOT_CRC16_UPDATE>(fuzz_api(), c16, text.data() + at, uint32_t(piece));
        at += piece;
    }
    FUZZ_REQUIRE(c32 == want32);
    FUZZ_REQUIRE((c16 & 0xFFFF) == want16);
    fuzz_check_peak(0);
}

// The known-file match: the first entry of the file's size whose region has
// the listed CRC decides "known"; a region past the end decides "not known";
// a region at the offset of the last one computed reuses its CRC.
void known_file(fuzz_input &in, const std::vector<uint8_t> &text) {
    kqhost *host = fuzz_host();
    const uint32_t size = uint32_t(text.size());
    std::vector<uint32_t> words{0};
    for (int n = in.u8() % 6; n > 0; n--) {
        uint32_t e[4] = {in.u8() & 1 ? size : in.u32(), in.u16() % (size + 8), in.u16() % (size + 8), 0};
        e[3] = in.u8() & 1 ? in.u32()
                           : ~crc32_bits(~0u, text.data() + std::min(e[1], size),
                                         e[1] + uint64_t(e[2]) <= size ? e[2] : 0);
        words.insert(words.end(), e, e + 4);
        words[0]++;
    }
    int32_t expect = 0;
    bool have = false;
    uint32_t crc = 0, crc_offset = 0;
    for (uint32_t k = 0; k < words[0]; k++) {
        const uint32_t *e = &words[1 + 4 * k];
        if (e[0] != size) continue;
        if (!have || crc_offset != e[1]) {
            if (e[2] && uint64_t(e[1]) + e[2] > size) break;
            crc = ~crc32_bits(~0u, text.data() + std::min(e[1], size), e[2]);
            have = true, crc_offset = e[1];
        }
        if (crc == e[3]) {
            expect = 1;
            break;
        }
    }
    kqhost_set_size_list(host, words.data(), words.size());
    uint32_t handle = kqhost_open_memory(host, text.data(), text.size());
    scan_file *file = kqhelp::call<SLOT_SCAN_FILE_CREATE>(fuzz_api(), kqhost_context(host), kqhost_instance(host), &handle);
    FUZZ_REQUIRE(file);
    FUZZ_REQUIRE(kqhelp::call<SLOT_KNOWN_FILE_MATCH>(fuzz_api(), file) == expect);
    FUZZ_REQUIRE(kqhelp::call<SLOT_KNOWN_FILE_MATCH>(fuzz_api(), file) == expect);  // remembered
    kqhelp::call<SLOT_SCAN_FILE_DESTROY>(fuzz_api(), kqhost_context(host), kqhost_instance(host), file);
    kqhost_close_file(host, handle);
    fuzz_check_peak(fuzz_bound::known_file + 1024);  // and the scan_file itself
    fuzz_check_nothing_live();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The first 64 bytes are operations, the rest is the text.
    fuzz_input in{data, std::min<size_t>(size, 64)};
    const std::vector<uint8_t> text(data + in.n, data + size);
    kqhost_reset_peak(fuzz_host());
    while (!in.empty()) {
        switch (in.u8() % 3) {
        case 0: search(in, text); break;
        case 1: checksums(in, text); break;
        default: known_file(in, text); break;
        }
    }
    return 0;
}
