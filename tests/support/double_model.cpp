#include "support/double_model.hpp"

#include <algorithm>
#include <utility>

#include "encoding/double_encoding.hpp"
#include "encoding/utf8.hpp"
#include "support/bytes.hpp"
#include "support/model.hpp"

namespace textmend::test {

namespace {

std::string utf8_of(std::int32_t cp) {
    const EncodeBuffer e = utf8_encode(cp);
    return {reinterpret_cast<const char*>(e.data()), static_cast<std::size_t>(encoded_length(e))};
}

}  // namespace

ModelReport model_report(const std::string& input, Target target) {
    const std::vector<ModelUnit> units = model_units(input, target);
    const auto* p = reinterpret_cast<const std::uint8_t*>(input.data());
    const auto* end = p + input.size();
    std::vector<std::pair<std::size_t, DoubleRun>> runs;
    std::size_t u = 0;
    for (std::size_t i = 0; i < input.size();) {
        while (u < units.size() && units[u].offset < i)
            ++u;
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        const DoubleRun run = double_run_at(p + i, end);
        if (run.length != 0) {
            runs.emplace_back(i, run);
            i += run.length;
        } else {
            i += u < units.size() && units[u].offset == i ? units[u].length : 1;
        }
    }
    ModelReport model;
    model.runs = runs.size();
    std::size_t r = 0;
    for (const ModelUnit& unit : units) {
        (unit.kept ? model.kept : model.changed) += 1;
        while (r < runs.size() && runs[r].first + runs[r].second.length <= unit.offset) {
            ++r;
        }
        if (r < runs.size() && runs[r].first <= unit.offset) {
            (unit.kept ? model.kept_in_runs : model.changed_in_runs) += 1;
            continue;
        }
        Finding f;
        f.offset = unit.offset;
        f.line = unit.line;
        f.column = unit.column;
        f.kind = unit.kept ? FindingKind::kept : FindingKind::changed;
        f.length = static_cast<std::uint8_t>(unit.length);
        model.findings.push_back(f);
    }
    std::vector<std::size_t> newlines;
    for (std::size_t i = input.find('\n'); i != std::string::npos; i = input.find('\n', i + 1))
        newlines.push_back(i);
    for (const auto& [offset, run] : runs) {
        Finding f;
        f.offset = offset;
        // Newlines before the run, and where its line starts.
        const auto before = std::lower_bound(newlines.begin(), newlines.end(), offset);
        const std::size_t line_start = before == newlines.begin() ? 0 : *(before - 1) + 1;
        f.line = 1 + static_cast<std::uint64_t>(before - newlines.begin());
        f.column = offset - line_start + 1;
        f.kind = FindingKind::double_encoded;
        f.length = static_cast<std::uint8_t>(run.length);
        const std::string becomes = utf8_of(run.code_point);
        std::copy(becomes.begin(), becomes.end(), f.bytes);
        model.findings.push_back(f);
    }
    std::sort(model.findings.begin(), model.findings.end(),
              [](const Finding& a, const Finding& b) { return a.offset < b.offset; });
    return model;
}

std::string describe(const Finding& f) {
    std::string s = std::to_string(f.offset) + ":" + std::to_string(f.length) + "@" +
                    std::to_string(f.line) + "," + std::to_string(f.column) +
                    (f.kind == FindingKind::kept      ? "k"
                     : f.kind == FindingKind::changed ? "c"
                                                      : "d");
    if (f.kind == FindingKind::double_encoded)
        s += to_hex(std::string(reinterpret_cast<const char*>(f.bytes), 4));
    return s;
}

}  // namespace textmend::test
