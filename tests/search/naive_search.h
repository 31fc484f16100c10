// The reference the search kernels and slots are checked against: the first
// window that matches byte by byte, folding ASCII capitals on both sides if
// asked; and the random cases both are run on.
#pragma once

#include <stdint.h>

#include <random>
#include <string>

namespace kqtest {

inline uint8_t fold_ascii(uint8_t b) { return b >= 'A' && b <= 'Z' ? static_cast<uint8_t>(b + 0x20) : b; }

inline int32_t naive_search(const std::string &x, const std::string &y, bool nocase) {
    auto eq = [&](uint8_t p, uint8_t t) { return nocase ? fold_ascii(p) == fold_ascii(t) : p == t; };
    for (size_t j = 0; j + x.size() <= y.size(); j++) {
        size_t i = 0;
        while (i < x.size() && eq(x[i], y[j + i])) i++;
        if (i == x.size()) return static_cast<int32_t>(j);
    }
    return -1;
}

// Texts over small alphabets (many partial matches, letters that fold and
// neighbours that do not) or all bytes; patterns cut from the text (some
// letters in the other case) or made up, around the vector blocks and the
// pair scan in length.
struct search_case { std::string text, pattern; };
inline search_case random_case(std::mt19937 &rng, int round) {
    static const std::string alphabets[] = {"ab", "aAbB@[`{", "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"};
    const int kind = round % 4;
    auto byte = [&]() { return kind == 3 ? char(rng()) : alphabets[kind][rng() % alphabets[kind].size()]; };
    search_case c{std::string(rng() % 400, '\0'), std::string(1 + rng() % (round % 7 == 0 ? 255 : round % 7 == 1 ? 64 : 12), '\0')};
    for (char &ch : c.text) ch = byte();
    const size_t m = c.pattern.size();
    if (c.text.size() >= m && rng() % 2) {
        c.pattern = c.text.substr(rng() % (c.text.size() - m + 1), m);
        for (char &ch : c.pattern) ch = char(rng() % 4 ? ch : ch ^ 0x20);
    } else {
        for (char &ch : c.pattern) ch = byte();
    }
    return c;
}

}  // namespace kqtest
