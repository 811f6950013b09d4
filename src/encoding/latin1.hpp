// ISO-8859-1 as this program counts it: the identity on 0x00..0x7F and
// 0xA0..0xFF. The C1 range 0x80..0x9F is not Latin-1 here; it is the range
// that Windows-1252 fills with printable characters.
#pragma once

#include <cstdint>

namespace textmend {

constexpr std::int32_t is_latin1(std::int32_t v) {
    return (v < 0x80 || (v >= 0xA0 && v <= 0xFF)) ? 1 : 0;
}

}  // namespace textmend
