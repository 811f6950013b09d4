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

bool is_c1_control(std::int32_t code_point) {
    return code_point >= 0x80 && code_point <= 0x9F;
}

}  // namespace

void write_escaped_name(std::FILE* stream, const char* name, Backslashes backslashes) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(name);
    while (*p != '\0') {
#ifndef _WIN32
        if (*p >= 0x80) {
            // The name's terminating zero is no continuation byte: no read passes it.
            const auto n = static_cast<std::int32_t>(valid_utf8_length(p, 4));
            const bool c1 = n == 0 ? is_c1_control(*p) : is_c1_control(utf8_decode_at(p, n));
            for (std::int32_t i = 0; i < (n == 0 ? 1 : n); ++i, ++p) {
                if (c1) {
                    write_octal(stream, *p);
                } else {
                    std::fputc(*p, stream);
                }
            }
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
