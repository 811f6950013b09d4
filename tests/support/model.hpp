// An independent model of the conversion, written over a whole array with an
// index instead of streams with look-ahead and rewind. Tests compare the
// engine against it on random inputs.
#pragma once

#include <string>

#include "convert/output_mode.hpp"

namespace textmend::test {

std::string model_convert(const std::string& input, OutputMode mode);

}  // namespace textmend::test
