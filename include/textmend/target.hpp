// The target encoding of a conversion. Part of textmend.hpp; a header of its
// own so that the engine can name it without the rest.
#pragma once

#include <string_view>

namespace textmend {

// The values are those of the program's modes (OutputMode in the sources).
enum class Target : int {
    latin1 = 1,       // ISO-8859-1 (the program's default)
    windows1252 = 2,  // Windows-1252 (-w)
    utf8 = 3,         // UTF-8 (-u)
};

// The name of each target where one is written or read as text: in
// textmend-report --json and in the Python package. One place for them all.
struct TargetName {
    Target target;
    const char* name;
};

inline constexpr TargetName TARGET_NAMES[] = {
    {Target::latin1, "latin1"},
    {Target::windows1252, "windows-1252"},
    {Target::utf8, "utf-8"},
};

// The name of target in TARGET_NAMES.
[[nodiscard]] constexpr const char* target_name(Target target) noexcept {
    for (const TargetName& entry : TARGET_NAMES) {
        if (entry.target == target) return entry.name;
    }
    return TARGET_NAMES[0].name;
}

// The target that TARGET_NAMES calls name; false, and target left as it is,
// when none is called so.
[[nodiscard]] constexpr bool parse_target(std::string_view name, Target& target) noexcept {
    for (const TargetName& entry : TARGET_NAMES) {
        if (name == entry.name) {
            target = entry.target;
            return true;
        }
    }
    return false;
}

}  // namespace textmend
