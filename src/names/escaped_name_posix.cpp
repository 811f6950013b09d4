#include <cstdint>

#include "names/escaped_name.hpp"
#include "names/printable.hpp"

namespace textmend {

namespace {

// Writes the valid UTF-8 sequence or the lone byte at p (a byte 80..FF),
// escaped when it is a C1 control; returns what follows it. The name's
// terminating zero is no continuation byte, so no read passes it.
const std::uint8_t* write_high_bytes(std::FILE* stream, const std::uint8_t* p) {
    const Utf8Character c = utf8_character_at(p, 4);
    const bool c1 = is_c1_control(c.length == 0 ? *p : c.code_point);
    const std::uint8_t* end = p + (c.length == 0 ? 1 : c.length);
    for (; p < end; ++p) {
        if (c1) {
            write_octal_escape(stream, *p);
        } else {
            std::fputc(*p, stream);
        }
    }
    return end;
}

}  // namespace

void write_escaped_name(std::FILE* stream, const char* name, Backslashes backslashes) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(name);
    while (*p != '\0') {
        if (*p >= 0x80) {
            p = write_high_bytes(stream, p);
        } else if (*p == '\\' && backslashes == Backslashes::doubled) {
            std::fputs("\\\\", stream);
            ++p;
        } else {
            write_name_byte(stream, *p++);
        }
    }
}

}  // namespace textmend
