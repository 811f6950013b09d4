#include "cli/escaped_name.hpp"

namespace textmend {

void write_escaped_name(std::FILE* stream, const char* name) {
    for (const char* p = name; *p != '\0'; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        if (byte < 0x20 || byte == 0x7F) {
            std::fprintf(stream, "\\%03o", static_cast<unsigned>(byte));
        } else {
            std::fputc(byte, stream);
        }
    }
}

}  // namespace textmend
