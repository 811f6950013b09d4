// The target encoding of a conversion. Part of textmend.hpp; a header of its
// own so that the engine can name it without the rest.
#pragma once

namespace textmend {

// The values are those of the program's modes (OutputMode in the sources).
enum class Target : int {
    latin1 = 1,       // ISO-8859-1 (the program's default)
    windows1252 = 2,  // Windows-1252 (-w)
    utf8 = 3,         // UTF-8 (-u)
};

}  // namespace textmend
