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

// "12 to change, 3 kept as they are (not Latin-1)", either part alone when
// the other count is 0.
std::string counts_text(const Inspection& result) {
    std::string text;
    if (result.changed > 0) text = std::to_string(result.changed) + " to change";
    if (result.kept > 0) {
        if (!text.empty()) text += ", ";
        text += std::to_string(result.kept) +
                (result.kept == 1 ? " kept as it is (not " : " kept as they are (not ") +
                display_name(result.target) + ")";
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

void print_example(std::FILE* out, const Example& example, Target target, bool colour) {
    const Finding& f = example.finding;
    const bool kept = f.kind == FindingKind::kept;
    std::fprintf(out, "  line %" PRIu64 ", column %" PRIu64 ": ", f.line, f.column);
    if (kept) {
        std::fprintf(out, "keep %s (not %s): ", hex_of(f.bytes, f.length, " ").c_str(),
                     display_name(target));
    } else {
        std::fprintf(out, "change %s to %s: ", hex_of(f.bytes, f.length, " ").c_str(),
                     converted_hex(f, target).c_str());
    }
    const char* mark = colour ? (kept ? "\033[1;33m" : "\033[1;31m") : "";
    const char* unmark = colour ? "\033[0m" : "";
    std::fprintf(out, "%s[%s%s%s]%s\n",
                 printable_text(example.before, example.before_length).c_str(), mark,
                 printable_unit(f.bytes, f.length).c_str(), unmark,
                 printable_text(example.after, example.after_length).c_str());
}

}  // namespace

bool print_json_report(std::FILE* out, const char* name, const Inspection& result,
                       ExampleCollector& examples, std::uint64_t shown) {
    std::fprintf(out,
                 "{\"file\":%s,\"target\":\"%s\",\"bytes_in\":%" PRIu64 ",\"bytes_out\":%" PRIu64
                 ",\"changed\":%" PRIu64 ",\"kept\":%" PRIu64 ",\"clean\":%s,\"examples\":[",
                 json_string(name).c_str(), textmend::target_name(result.target), result.bytes_in,
                 result.bytes_out, result.changed, result.kept, result.clean() ? "true" : "false");
    const char* separator = "";
    const bool read = examples.for_each(shown, [&](const Example& example) {
        const Finding& f = example.finding;
        std::fprintf(out,
                     "%s{\"offset\":%" PRIu64 ",\"line\":%" PRIu64 ",\"column\":%" PRIu64
                     ",\"kind\":\"%s\",\"bytes\":\"%s\"}",
                     separator, f.offset, f.line, f.column,
                     f.kind == FindingKind::kept ? "kept" : "changed",
                     hex_of(f.bytes, f.length, "").c_str());
        separator = ",";
    });
    std::fputs("]}\n", out);
    return read;
}

bool print_text_report(std::FILE* out, const char* name, const Inspection& result,
                       ExampleCollector& examples, std::uint64_t shown, bool colour) {
    write_escaped_name(out, name, Backslashes::doubled);
    if (result.clean()) {
        std::fputs(": clean\n", out);
        return true;
    }
    std::fprintf(out, ": %s", counts_text(result).c_str());
    if (const Finding* first = examples.first()) {
        std::fprintf(out, ", first at line %" PRIu64 ", column %" PRIu64, first->line,
                     first->column);
    }
    std::fputc('\n', out);
    return examples.for_each(
        shown, [&](const Example& example) { print_example(out, example, result.target, colour); });
}

}  // namespace textmend::report
