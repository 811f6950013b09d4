#include "report/render.hpp"

#include <cstdio>

namespace textmend::report {

std::string hex_of(const std::uint8_t* bytes, std::size_t n, const char* separator) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned>(bytes[i]));
        if (i > 0) out += separator;
        out += pair;
    }
    return out;
}

}  // namespace textmend::report
