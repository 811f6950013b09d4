// How tests print a target encoding in messages: by its option.
#pragma once

#include <ostream>

#include "textmend/target.hpp"

namespace textmend {

inline std::ostream& operator<<(std::ostream& out, Target target) {
    switch (target) {
        case Target::latin1:
            return out << "latin1 (default)";
        case Target::windows1252:
            return out << "windows-1252 (-w)";
        case Target::utf8:
            return out << "utf-8 (-u)";
    }
    return out << "target " << static_cast<int>(target);
}

}  // namespace textmend
