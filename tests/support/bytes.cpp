#include "support/bytes.hpp"

#include <cstdio>

namespace textmend::test {

static int nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string hex_bytes(const std::string& hex) {
    std::string out;
    int high = -1;
    for (char c : hex) {
        const int v = nibble(c);
        if (v < 0) continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<char>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

std::string to_hex(const std::string& bytes) {
    std::string out;
    char pair[4];
    for (unsigned char b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        if (!out.empty()) out.push_back(' ');
        out += pair;
    }
    return out;
}

}  // namespace textmend::test
