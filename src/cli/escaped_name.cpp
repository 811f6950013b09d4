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

// The length of the valid UTF-8 sequence at p, or 0 when p starts none. The
// name's terminating zero is no continuation byte, so no read passes it.
std::int32_t valid_sequence_at(const std::uint8_t* p) {
    const std::int32_t n = utf8_sequence_length_strict(p[0]);
    if (n < 2 || !utf8_continues(p, n) || !utf8_is_valid_sequence(p, n)) return 0;
    return n;
}

}  // namespace

void write_escaped_name(std::FILE* stream, const char* name, Backslashes backslashes) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(name);
    while (*p != '\0') {
#ifndef _WIN32
        if (*p >= 0x80) {
            const std::int32_t n = valid_sequence_at(p);
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
