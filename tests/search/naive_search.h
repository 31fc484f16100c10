// The reference the search kernels and slots are checked against: the first
// window that matches byte by byte, folding ASCII capitals on both sides if asked.
#pragma once

#include <stdint.h>

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

}  // namespace kqtest
