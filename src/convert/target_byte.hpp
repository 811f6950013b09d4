// What a sequence becomes in the default mode and with -w: the byte of its
// code point in the target set, if the set has it.
#pragma once

#include <cstdint>

#include "convert/output_mode.hpp"
#include "encoding/cp1252_reverse.hpp"
#include "encoding/latin1.hpp"

namespace textmend {

// The byte that stands for cp in Latin-1 (MODE_LATIN1) or Windows-1252
// (MODE_CP1252), or -1 when the set lacks it.
constexpr std::int32_t target_byte(std::int32_t cp, OutputMode mode) {
    if (mode == MODE_CP1252) return windows1252_byte_of(cp);
    return is_latin1(cp) ? cp : -1;
}

}  // namespace textmend
