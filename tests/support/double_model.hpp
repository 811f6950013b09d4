// The model of what textmend-report finds, with runs of text encoded twice:
// the units of the conversion's model, and runs looked for at each
// character in turn over the whole input with an index. Tests and the fuzz
// target compare the report's inspection with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "textmend/textmend.hpp"

namespace textmend::test {

// What the report should find, by an index over the whole input: every
// unit of the model, and runs found at each character in turn (a run is
// looked for wherever a character above ASCII starts).
struct ModelReport {
    std::vector<Finding> findings;  // units outside runs and runs, in order
    std::uint64_t runs = 0, changed_in_runs = 0, kept_in_runs = 0, changed = 0, kept = 0;
};

ModelReport model_report(const std::string& input, Target target);

// A finding as "offset:length@line,column" and its kind (c, k, d; a run
// with the character it becomes), for messages and comparisons.
std::string describe(const Finding& f);

}  // namespace textmend::test
