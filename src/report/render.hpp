// Bytes of mixed encodings made fit for a terminal or for JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "names/json_string.hpp"
#include "names/printable.hpp"

namespace textmend::report {

// "c3 a9" (separator " ") or "c3a9" (separator "").
[[nodiscard]] std::string hex_of(const std::uint8_t* bytes, std::size_t n, const char* separator);

using textmend::json_string;
using textmend::printable_text;
using textmend::printable_unit;

}  // namespace textmend::report
