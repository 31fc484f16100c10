// Slot 60: does a detection name start with one of the category prefixes?
#include <strings.h>

#include "module/slots.h"

namespace {

struct category_prefix {
    const char *text;  // lower case, ends with '/'
    uint32_t length;
};

// Tried in this order. "heuristic/" stands on its own: "heur/" does not
// match a name that continues with "heuristic".
inline constexpr category_prefix kCategoryPrefixes[] = {
    {"appl/", 5}, {"spr/", 4},  {"game/", 5},      {"joke/", 5}, {"dial/", 5},
    {"adspy/", 6}, {"heur/", 5}, {"heuristic/", 10}, {"pck/", 4},  {"hidden-ext/", 11},
};

constexpr char fold_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

extern "C" int32_t name_has_category_prefix(const char *name) {
    if (!name || !name[0]) return 0;
    // The two folded characters pick the candidates cheaply; name[1] is at
    // worst the terminating NUL, which matches no prefix.
    const char first = fold_ascii(name[0]);
    const char second = fold_ascii(name[1]);
    for (const category_prefix &prefix : kCategoryPrefixes) {
        if (prefix.text[0] != first || prefix.text[1] != second) continue;
        if (strncasecmp(name, prefix.text, prefix.length) == 0) return 1;
    }
    return 0;
}
