// The target encoding of a run, chosen once from the command line. It is
// the library's Target; the engine calls it by the program's names.
#pragma once

#include "textmend/target.hpp"

namespace textmend {

using OutputMode = Target;

// Default: UTF-8 sequences of Latin-1 characters become single bytes.
inline constexpr OutputMode MODE_LATIN1 = Target::latin1;
// -w: as MODE_LATIN1, plus the Windows-1252 characters at 0x80..0x9F.
inline constexpr OutputMode MODE_CP1252 = Target::windows1252;
// -u: stray Latin-1 and Windows-1252 bytes become UTF-8.
inline constexpr OutputMode MODE_UTF8 = Target::utf8;

}  // namespace textmend
