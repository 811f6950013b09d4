#include "cli/escaped_name.hpp"

#include <cstdint>

#include "encoding/utf8.hpp"

namespace textmend {

namespace {

void write_octal(std::FILE* stream, std::uint8_t byte) {
    std::fprintf(stream, "\\%03o", static_cast<unsigned>(byte));
}

bool is_c0_control(std::uint8_t byte) {
    return byte < 0x20 || byte == 0x7F;
}

#ifndef _WIN32
bool is_c1_control(std::int32_t code_point) {
    return code_point >= 0x80 && code_point <= 0x9F;
}

// Writes the valid UTF-8 sequence or the lone byte at p (a byte 80..FF),
// escaped when it is a C1 control; returns what follows it. The name's
// terminating zero is no continuation byte, so no read passes it.
const std::uint8_t* write_high_bytes(std::FILE* stream, const std::uint8_t* p) {
    const std::size_t n = valid_utf8_length(p, 4);
    const bool c1 =
        n == 0 ? is_c1_control(*p) : is_c1_control(utf8_decode_at(p, static_cast<std::int32_t>(n)));
    const std::uint8_t* end = p + (n == 0 ? 1 : n);
    for (; p < end; ++p) {
        if (c1) {
            write_octal(stream, *p);
        } else {
            std::fputc(*p, stream);
        }
    }
    return end;
}
#endif

}  // namespace

void write_escaped_name(std::FILE* stream, const char* name, Backslashes backslashes) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(name);
    while (*p != '\0') {
#ifndef _WIN32
        if (*p >= 0x80) {
            p = write_high_bytes(stream, p);
            continue;
        }
        if (*p == '\\' && backslashes == Backslashes::doubled) {
            std::fputs("\\\\", stream);
            ++p;
            continue;
        }
#else
        (void)backslashes;
#endif
        if (is_c0_control(*p)) {
            write_octal(stream, *p);
        } else {
            std::fputc(*p, stream);
        }
        ++p;
    }
}

}  // namespace textmend
