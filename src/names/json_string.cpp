#include "names/json_string.hpp"

#include <cstdint>
#include <cstdio>

#include "names/printable.hpp"

namespace textmend {

std::string json_string(const char* text) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(text);
    std::size_t n = 0;
    while (p[n] != 0)
        ++n;
    std::string out = "\"";
    for (std::size_t i = 0; i < n;) {
        const std::uint8_t byte = p[i];
        char escape[8];
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
            ++i;
        } else if (byte < 0x20) {
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(byte));
            out += escape;
            ++i;
        } else if (byte < 0x80) {
            out += static_cast<char>(byte);
            ++i;
        } else if (const std::size_t length = utf8_character_at(p + i, n - i).length; length > 0) {
            out.append(text + i, length);
            i += length;
        } else {
            std::snprintf(escape, sizeof escape, "\\udc%02x", static_cast<unsigned>(byte));
            out += escape;
            ++i;
        }
    }
    return out + "\"";
}

}  // namespace textmend
