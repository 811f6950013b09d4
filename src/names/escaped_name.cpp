#include "names/escaped_name.hpp"

#include <cstdint>

namespace textmend {

void write_octal_escape(std::FILE* stream, std::uint8_t byte) {
    std::fprintf(stream, "\\%03o", static_cast<unsigned>(byte));
}

void write_name_byte(std::FILE* stream, std::uint8_t byte) {
    if (byte < 0x20 || byte == 0x7F) {
        write_octal_escape(stream, byte);
    } else {
        std::fputc(byte, stream);
    }
}

}  // namespace textmend
