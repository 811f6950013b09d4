// What a sequence becomes in the default mode and with -w: the byte of its
// code point in the target set, if the set has it. The byte loop, the bulk
// converters, their vector blocks and the inspection all ask this.
#pragma once

#include <cstdint>

#include "encoding/cp1252_reverse.hpp"
#include "encoding/latin1.hpp"
#include "textmend/target.hpp"

namespace textmend {

// The byte that stands for cp in Latin-1 or, with Target::windows1252, in
// Windows-1252; -1 when the set lacks it.
constexpr std::int32_t target_byte(std::int32_t cp, Target target) {
    if (target == Target::windows1252) return windows1252_byte_of(cp);
    return is_latin1(cp) ? cp : -1;
}

}  // namespace textmend
