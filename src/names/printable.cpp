#include "names/printable.hpp"

#include <cstdio>

#include "encoding/cp1252.hpp"
#include "encoding/utf8.hpp"

namespace textmend {

namespace {

void append_escape(std::string& out, std::uint8_t byte) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(byte));
    out += escape;
}

void append_utf8(std::string& out, std::int32_t cp) {
    const EncodeBuffer e = utf8_encode(cp);
    out.append(reinterpret_cast<const char*>(e.data()),
               static_cast<std::size_t>(encoded_length(e)));
}

// One byte that does not start valid UTF-8.
void append_lone_byte(std::string& out, std::uint8_t byte) {
    if (byte == '\t') {
        out += "\\t";
    } else if (byte >= 0x20 && byte < 0x7F) {
        out += static_cast<char>(byte);
    } else if (const std::int32_t cp = cp1252_to_unicode(byte); byte >= 0x80 && cp > 0) {
        append_utf8(out, cp);
    } else {
        append_escape(out, byte);
    }
}

}  // namespace

Utf8Character utf8_character_at(const std::uint8_t* p, std::size_t n) {
    const std::size_t length = valid_utf8_length(p, n);
    if (length == 0) return Utf8Character{0, 0};
    return Utf8Character{length, utf8_decode_at(p, static_cast<std::int32_t>(length))};
}

std::string printable_text(const std::uint8_t* bytes, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n;) {
        const Utf8Character c = utf8_character_at(bytes + i, n - i);
        if (c.length > 0 && !is_c1_control(c.code_point)) {
            out.append(reinterpret_cast<const char*>(bytes + i), c.length);
            i += c.length;
        } else if (c.length > 0) {
            for (std::size_t k = 0; k < c.length; ++k)
                append_escape(out, bytes[i + k]);
            i += c.length;
        } else {
            append_lone_byte(out, bytes[i++]);
        }
    }
    return out;
}

std::string printable_unit(const std::uint8_t* bytes, std::size_t n) {
    if (n == 1 || utf8_character_at(bytes, n).length == n) return printable_text(bytes, n);
    std::string out;
    for (std::size_t i = 0; i < n; ++i)
        append_escape(out, bytes[i]);
    return out;
}

}  // namespace textmend
