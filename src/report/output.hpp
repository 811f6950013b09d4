// The report of one file: one JSON object on one line, or a line of text
// with the examples indented below it.
#pragma once

#include <cstdint>
#include <cstdio>

#include "report/examples.hpp"
#include "textmend/textmend.hpp"

namespace textmend::report {

// {"file": ..., "target": ..., "bytes_in": ..., "bytes_out": ..., "changed": ...,
//  "kept": ..., "double": ..., "clean": ..., "examples": [{"offset": ...,
//  "line": ..., "column": ..., "kind": ..., "bytes": ...}, ...]} and a
// newline. changed and kept count the units outside runs of text encoded
// twice, double the runs; clean is the conversion's (it leaves the input as
// it is and keeps nothing). A run's example ("kind": "double") has its bytes
// and "becomes": what undoing it writes in the target.
// False when the spooled examples could not be read back (see
// ExampleCollector::error).
[[nodiscard]] bool print_json_report(std::FILE* out, const char* name, const ReportCounts& result,
                                     ExampleCollector& examples, std::uint64_t shown);

// "NAME: clean", or "NAME: 12 to change, 3 kept as they are (not Latin-1),
// 2 look double-encoded, first at line 4, column 7" ("NAME: clean, 2 look
// double-encoded, ..." when runs are all the input holds) and then the examples, one per line, each
// with its line, column and the text around it. colour marks the places. Both show the first
// `shown` examples.
[[nodiscard]] bool print_text_report(std::FILE* out, const char* name, const ReportCounts& result,
                                     ExampleCollector& examples, std::uint64_t shown, bool colour);

}  // namespace textmend::report
