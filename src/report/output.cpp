#include "report/output.hpp"

#include <cinttypes>
#include <string>

#include "names/escaped_name.hpp"
#include "report/render.hpp"

namespace textmend::report {

namespace {

const char* display_name(Target target) {
    switch (target) {
        case Target::windows1252:
            return "Windows-1252";
        case Target::utf8:
            return "UTF-8";
        case Target::latin1:
            break;
    }
    return "Latin-1";
}

// Units outside runs of text encoded twice: each run is counted once, as a
// run, and not also as the units in it.
std::uint64_t changed_outside_runs(const ReportCounts& result) {
    return result.units.changed - result.changed_in_runs;
}

std::uint64_t kept_outside_runs(const ReportCounts& result) {
    return result.units.kept - result.kept_in_runs;
}

// "12 to change, 3 kept as they are (not Latin-1), 2 look double-encoded",
// each part left out when its count is 0.
std::string counts_text(const ReportCounts& result) {
    std::string text;
    const auto add = [&text](const std::string& part) {
        text += (text.empty() ? "" : ", ") + part;
    };
    const std::uint64_t changed = changed_outside_runs(result), kept = kept_outside_runs(result);
    if (changed > 0) add(std::to_string(changed) + " to change");
    if (kept > 0) {
        add(std::to_string(kept) +
            (kept == 1 ? " kept as it is (not " : " kept as they are (not ") +
            display_name(result.units.target) + ")");
    }
    if (result.double_runs > 0) {
        add(std::to_string(result.double_runs) +
            (result.double_runs == 1 ? " looks double-encoded" : " look double-encoded"));
    }
    return text;
}

// What the conversion writes for a changed finding: the finding converted on
// its own, as a unit is judged by its own bytes.
std::string converted_hex(const Finding& finding, Target target) {
    std::uint8_t out[max_converted_size(FINDING_BYTES_MAX, Target::utf8)];
    const std::size_t n = convert(finding.bytes, finding.length, out, target);
    return hex_of(out, n, " ");
}

// What undoing a run writes in the target.
std::string undone_hex(const Finding& finding, Target target, const char* separator) {
    std::uint8_t out[FINDING_BYTES_MAX];
    return hex_of(out, undone_bytes(finding, target, out), separator);
}

// The bytes an example is about: a unit's own, or a run's.
const std::uint8_t* example_bytes(const Example& example) {
    const Finding& f = example.finding;
    return f.kind == FindingKind::double_encoded ? example.run : f.bytes;
}

void print_example(std::FILE* out, const Example& example, Target target, bool colour) {
    const Finding& f = example.finding;
    const std::uint8_t* bytes = example_bytes(example);
    std::fprintf(out, "  line %" PRIu64 ", column %" PRIu64 ": ", f.line, f.column);
    const char* mark = "\033[1;31m";
    switch (f.kind) {
        case FindingKind::kept:
            std::fprintf(out, "keep %s (not %s): ", hex_of(bytes, f.length, " ").c_str(),
                         display_name(target));
            mark = "\033[1;33m";
            break;
        case FindingKind::double_encoded:
            std::fprintf(out, "double-encoded %s would undo to %s: ",
                         hex_of(bytes, f.length, " ").c_str(), undone_hex(f, target, " ").c_str());
            mark = "\033[1;35m";
            break;
        case FindingKind::changed:
            std::fprintf(out, "change %s to %s: ", hex_of(bytes, f.length, " ").c_str(),
                         converted_hex(f, target).c_str());
            break;
    }
    if (!colour) mark = "";
    const char* unmark = colour ? "\033[0m" : "";
    std::fprintf(out, "%s[%s%s%s]%s\n",
                 printable_text(example.before, example.before_length).c_str(), mark,
                 (f.kind == FindingKind::double_encoded ? printable_text(bytes, f.length)
                                                        : printable_unit(bytes, f.length))
                     .c_str(),
                 unmark, printable_text(example.after, example.after_length).c_str());
}

}  // namespace

bool print_json_report(std::FILE* out, const char* name, const ReportCounts& result,
                       ExampleCollector& examples, std::uint64_t shown) {
    const Inspection& units = result.units;
    std::fprintf(out,
                 "{\"file\":%s,\"target\":\"%s\",\"bytes_in\":%" PRIu64 ",\"bytes_out\":%" PRIu64
                 ",\"changed\":%" PRIu64 ",\"kept\":%" PRIu64 ",\"double\":%" PRIu64
                 ",\"clean\":%s,\"examples\":[",
                 json_string(name).c_str(), textmend::target_name(units.target), units.bytes_in,
                 units.bytes_out, changed_outside_runs(result), kept_outside_runs(result),
                 result.double_runs, units.clean() ? "true" : "false");
    const char* separator = "";
    const bool read = examples.for_each(shown, [&](const Example& example) {
        const Finding& f = example.finding;
        std::fprintf(out,
                     "%s{\"offset\":%" PRIu64 ",\"line\":%" PRIu64 ",\"column\":%" PRIu64
                     ",\"kind\":\"%s\",\"bytes\":\"%s\"",
                     separator, f.offset, f.line, f.column, finding_kind_name(f.kind),
                     hex_of(example_bytes(example), f.length, "").c_str());
        if (f.kind == FindingKind::double_encoded) {
            std::fprintf(out, ",\"becomes\":\"%s\"", undone_hex(f, units.target, "").c_str());
        }
        std::fputc('}', out);
        separator = ",";
    });
    std::fputs("]}\n", out);
    return read;
}

bool print_text_report(std::FILE* out, const char* name, const ReportCounts& result,
                       ExampleCollector& examples, std::uint64_t shown, bool colour) {
    write_escaped_name(out, name, Backslashes::doubled);
    if (result.units.clean() && result.double_runs == 0) {
        std::fputs(": clean\n", out);
        return true;
    }
    // Runs alone in text the conversion leaves as it is: clean all the same.
    std::fprintf(out, ": %s%s", result.units.clean() ? "clean, " : "", counts_text(result).c_str());
    if (const Finding* first = examples.first()) {
        std::fprintf(out, ", first at line %" PRIu64 ", column %" PRIu64, first->line,
                     first->column);
    }
    std::fputc('\n', out);
    return examples.for_each(shown, [&](const Example& example) {
        print_example(out, example, result.units.target, colour);
    });
}

}  // namespace textmend::report
