// A strict reader of the JSON the programs print, one object per line, for
// tests: objects of strings, numbers, true, false, null and objects. Strings
// come back as the bytes they stand for: \udcXX is the byte XX (Python's
// surrogateescape), other escapes their UTF-8.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace textmend::test {

// The members of a parsed object: strings as their bytes, numbers as written,
// true, false and null as those words, an object as its JSON text.
using JsonObject = std::map<std::string, std::string>;

// The object on the line, or nothing when it is not exactly one valid
// object (members in any order, no text after it).
[[nodiscard]] std::optional<JsonObject> parse_json_object(const std::string& line);

}  // namespace textmend::test
