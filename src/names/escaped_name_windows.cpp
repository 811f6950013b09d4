#include <cstdint>

#include "names/escaped_name.hpp"

namespace textmend {

// Windows passes names in its code page, where 80..9F are characters, and a
// backslash is the path separator: only the C0 controls are escaped.
void write_escaped_name(std::FILE* stream, const char* name, Backslashes backslashes) {
    (void)backslashes;
    for (const auto* p = reinterpret_cast<const std::uint8_t*>(name); *p != '\0'; ++p)
        write_name_byte(stream, *p);
}

}  // namespace textmend
