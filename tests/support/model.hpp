// An independent model of the conversion, written over a whole array with an
// index instead of streams with look-ahead and rewind. Tests compare the
// engine against it on random inputs.
#pragma once

#include <string>
#include <vector>

#include "convert/output_mode.hpp"
#include "support/print.hpp"

namespace textmend::test {

std::string model_convert(const std::string& input, OutputMode mode);

// A place the conversion changes, or keeps although it is not a character of
// the target encoding.
struct ModelUnit {
    std::size_t offset;
    std::size_t length;
    bool kept;
    std::size_t line;    // 1 + newlines before it
    std::size_t column;  // 1 + bytes since the last newline
};

// Every unit of the input, in order; computed over the whole array with an
// index, then given its line and column in one pass over the input.
std::vector<ModelUnit> model_units(const std::string& input, OutputMode mode);

}  // namespace textmend::test
