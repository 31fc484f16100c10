// The four buffer searches of the table. Each call builds its tables in host
// memory, searches buffer[offset, offset + length) and returns every block
// before it returns: nothing is cached between calls.
#include "module/host_calls.h"
#include "module/slots.h"
#include "search/boyer_moore.h"

namespace {

inline constexpr int32_t kMaxPattern = 255;
inline constexpr uint64_t kTableBytes = 256 * sizeof(int32_t);
inline constexpr uint64_t kScrambledCopyBytes = kMaxPattern + 1;

// How a variant prepares the pattern before the tables are built from it.
enum class pattern_form {
    lowered,            // plain pattern, a lower-cased copy of m + 1 bytes
    as_given,           // plain pattern, used in place
    descrambled_lowered,// scrambled pattern, copy of m + 1 bytes, plain and lower-cased
    descrambled,        // scrambled pattern, a 256-byte plain copy
};

constexpr bool folds_case(pattern_form f) {
    return f == pattern_form::lowered || f == pattern_form::descrambled_lowered;
}

template <pattern_form Form>
int32_t search_region(host_context *ctx, uint32_t instance, const uint8_t *buffer, const uint8_t *pattern, int32_t m,
                      int32_t offset, int32_t length) {
    if (!ctx) return SEARCH_BAD_ARGUMENT;
    auto *services = static_cast<const host_services *>(kq::get_interface(ctx, instance, HOST_IFACE_SERVICES));
    if (!services) return SEARCH_BAD_ARGUMENT;
    if (offset < 0 || length < 0 || m < 1 || m > kMaxPattern || !buffer || !pattern) return SEARCH_BAD_ARGUMENT;

    const kq::host_ref host{ctx, instance, services};
    // The three tables are all requested before any answer is looked at.
    kq::host_block good_suffix(host, host.alloc(kTableBytes));
    kq::host_block bad_char(host, host.alloc(kTableBytes));
    kq::host_block suffix_len(host, host.alloc(kTableBytes));
    const bool tables = good_suffix && bad_char && suffix_len;
    // The fixed-size copy comes with the tables; the m + 1 byte copy only
    // once all three tables are there.
    void *copy_block = nullptr;
    if constexpr (Form == pattern_form::descrambled)
        copy_block = host.alloc(kScrambledCopyBytes);
    else if constexpr (Form != pattern_form::as_given)
        copy_block = tables ? host.alloc(static_cast<uint64_t>(m) + 1) : nullptr;
    kq::host_block copy(host, copy_block);
    if (!tables || (Form != pattern_form::as_given && !copy)) return SEARCH_NO_MEMORY;

    const uint8_t *x = pattern;
    if constexpr (Form != pattern_form::as_given) {
        uint8_t *p = copy.get();
        for (int32_t i = 0; i < m; i++) {
            uint8_t b = pattern[i];
            if constexpr (Form != pattern_form::lowered) b ^= SEARCH_PATTERN_KEY;
            if constexpr (folds_case(Form)) b = kq::ascii_to_lower(b);
            p[i] = b;
        }
        p[m] = 0;
        x = p;
    }

    const uint8_t *text = buffer + offset;
    // Most searches are answered by the scan, which needs no tables: they
    // are built only when it hands over.
    int32_t start = 0;
    if (kq::bm_scan(x, m, text, length, folds_case(Form), kq::best_vector_unit(), &start)) return start;
    kq::bm_good_suffix_table(x, m, good_suffix.get<int32_t>(), suffix_len.get<int32_t>());
    kq::bm_bad_char_table(x, m, bad_char.get<int32_t>());
    return kq::bm_search_from(x, m, text, length, good_suffix.get<int32_t>(), bad_char.get<int32_t>(),
                              folds_case(Form), start);
}

}  // namespace

extern "C" {

int32_t search_buffer_nocase(host_context *ctx, uint32_t instance, const uint8_t *buffer, const uint8_t *pattern,
                             int32_t m, int32_t offset, int32_t length) {
    return search_region<pattern_form::lowered>(ctx, instance, buffer, pattern, m, offset, length);
}

int32_t search_buffer(host_context *ctx, uint32_t instance, const uint8_t *buffer, const uint8_t *pattern, int32_t m,
                      int32_t offset, int32_t length) {
    return search_region<pattern_form::as_given>(ctx, instance, buffer, pattern, m, offset, length);
}

int32_t search_buffer_scrambled_nocase(host_context *ctx, uint32_t instance, const uint8_t *buffer,
                                       const uint8_t *pattern, int32_t m, int32_t offset, int32_t length) {
    return search_region<pattern_form::descrambled_lowered>(ctx, instance, buffer, pattern, m, offset, length);
}

int32_t search_buffer_scrambled(host_context *ctx, uint32_t instance, const uint8_t *buffer, const uint8_t *pattern,
                                int32_t m, int32_t offset, int32_t length) {
    return search_region<pattern_form::descrambled>(ctx, instance, buffer, pattern, m, offset, length);
}

}  // extern "C"
