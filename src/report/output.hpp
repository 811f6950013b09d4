// The report of one file: one JSON object on one line, or a line of text
// with the examples indented below it.
#pragma once

#include <cstdint>
#include <cstdio>

#include "report/examples.hpp"
#include "textmend/textmend.hpp"

namespace textmend::report {

// {"file": ..., "target": ..., "bytes_in": ..., "bytes_out": ..., "changed": ...,
//  "kept": ..., "clean": ..., "examples": [{"offset": ..., "line": ...,
//  "column": ..., "kind": ..., "bytes": ...}, ...]} and a newline.
// False when the spooled examples could not be read back (see
// ExampleCollector::error).
[[nodiscard]] bool print_json_report(std::FILE* out, const char* name, const Inspection& result,
                                     ExampleCollector& examples, std::uint64_t shown);

// "NAME: clean", or "NAME: 12 to change, 3 kept as they are (not Latin-1),
// first at line 4, column 7" and then the examples, one per line, each with
// its line, column and the text around it. colour marks the places. Both
// show the first `shown` examples.
[[nodiscard]] bool print_text_report(std::FILE* out, const char* name, const Inspection& result,
                                     ExampleCollector& examples, std::uint64_t shown, bool colour);

}  // namespace textmend::report
