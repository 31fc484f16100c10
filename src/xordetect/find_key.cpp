// Slot 58: the one- or four-byte XOR key that turns one 512-byte block into a
// plausible header. Candidates are judged through views; the decoded block
// receives only the decodes whose bytes would last.
#include "module/slots.h"
#include "xordetect/deferred_output.h"
#include "xordetect/header_test.h"

namespace {

using namespace kq::xordetect;

inline constexpr uint32_t kBlockSize = 512;
// Four-byte decodes cover the 127 words at 0..504; the header test never reads
// the last four bytes.
inline constexpr uint32_t kWordDecodeEnd = 508;

bool word_key_fits(const uint8_t *src, uint32_t i, uint32_t k) {
    const bool magic = (get16(src, i + kNtMagic) ^ (k & 0xFFFF)) == PE_MAGIC_PE32;
    const bool field = (get32(src, i + kNtSubsystemVersion) ^ k) == 4 ||
                       (get32(src, i + kNtFileAlignment) ^ k) == 0x200 ||
                       (get32(src, i + kNtSizeOfHeapReserve) ^ k) == 0x10000;
    return magic && field;
}

}  // namespace

extern "C" int32_t xordetect_find_key(const uint8_t *source, uint8_t *decoded, uint8_t *key_byte, uint32_t *key_word) {
    if (!source || !decoded || !key_byte || !key_word) return 0;
    *key_word = 0;

    // One-byte key from the first byte; 0 finds a plain header.
    const uint8_t k = source[0] ^ 0x4D;
    *key_byte = k;
    bool byte_decoded = false, found = false;
    if ((source[1] ^ k) == 0x5A) {
        byte_decoded = true;
        found = header_ok(xor_byte_view{source, k}, kBlockSize);
    }

    bool word_decoded = false;
    uint32_t word_key = 0;
    if (!found) {
        *key_byte = 0;
        for (uint32_t i = 0; i < 496 && !found; i += 4) {
            const uint32_t d = get32(source, i);
            *key_word = d;
            if (d == 0) continue;
            uint32_t candidate;
            if (get32(source, i + 4) == d && get32(source, i + 8) == d && get32(source, i + 12) == d) {
                candidate = d;  // a run of four equal words: the key itself
            } else {
                if (i > 383) continue;
                candidate = d ^ 0x4550;  // the key that makes these four bytes "PE\0\0"
                *key_word = candidate;
                if (!word_key_fits(source, i, candidate)) continue;
            }
            word_decoded = true;
            word_key = candidate;
            found = header_ok(xor_word_view{source, candidate}, kBlockSize);
        }
    }

    if (byte_decoded)
        for (uint32_t j = 0; j < kBlockSize; j++) decoded[j] = uint8_t(source[j] ^ k);
    if (word_decoded)
        for (uint32_t j = 0; j < kWordDecodeEnd; j += 4) put32(decoded, j, get32(source, j) ^ word_key);

    if (!found) return 0;
    if (*key_byte != 0) *key_word = uint32_t(*key_byte) * 0x01010101u;
    return 1;
}
