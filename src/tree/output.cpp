#include "tree/output.hpp"

#include <cinttypes>
#include <cstring>

#include "names/escaped_name.hpp"
#include "names/json_string.hpp"

namespace textmend::tree {

namespace {

const char* action_name(Action action) {
    switch (action) {
        case Action::repaired:
            return "repaired";
        case Action::would_repair:
            return "would repair";
        case Action::clean:
            return "clean";
        case Action::unchanged:
            return "unchanged";
        case Action::binary:
            return "binary";
        case Action::skipped:
            return "skipped";
        case Action::failed:
            return "failed";
        case Action::interrupted:
            break;
    }
    return "interrupted";
}

// Lines are printed for what was repaired (or would be), what was left
// alone by rule, and what failed; clean and unchanged files print nothing.
bool has_line(Action action, bool quiet) {
    if (action == Action::failed) return true;
    if (quiet) return false;
    return action == Action::repaired || action == Action::would_repair ||
           action == Action::binary || action == Action::skipped;
}

void print_counts_line(std::FILE* out, const char* before, const Outcome& outcome,
                       const PrintSettings& settings) {
    std::fprintf(out, ": %s%" PRIu64 " changed, %" PRIu64 " kept", before, outcome.counts.changed,
                 outcome.counts.kept);
    if (settings.undo_double) std::fprintf(out, ", %" PRIu64 " undone", outcome.undone.runs);
    std::fputc('\n', out);
}

void print_line(std::FILE* out, const std::string& shown, const Outcome& outcome,
                const PrintSettings& settings) {
    write_escaped_name(out, shown.c_str(), Backslashes::doubled);
    switch (outcome.action) {
        case Action::repaired:
            print_counts_line(out, "", outcome, settings);
            return;
        case Action::would_repair:
            print_counts_line(out, "would repair, ", outcome, settings);
            return;
        case Action::skipped:
            std::fprintf(out, ": skipped (%s)\n", outcome.reason);
            return;
        case Action::failed:
            std::fprintf(out, ": failed (%s)\n", failure_reason(outcome).c_str());
            return;
        default:
            std::fprintf(out, ": %s\n", action_name(outcome.action));
            return;
    }
}

void print_json(std::FILE* out, const std::string& shown, const Outcome& outcome,
                const PrintSettings& settings) {
    std::string reason = "null";
    if (outcome.action == Action::skipped) reason = json_string(outcome.reason);
    if (outcome.action == Action::failed) reason = json_string(failure_reason(outcome).c_str());
    std::fprintf(out, "{\"file\":%s,\"action\":\"%s\",\"reason\":%s,",
                 json_string(shown.c_str()).c_str(), action_name(outcome.action), reason.c_str());
    if (outcome.inspected) {
        std::fprintf(out,
                     "\"bytes_in\":%" PRIu64 ",\"bytes_out\":%" PRIu64 ",\"changed\":%" PRIu64
                     ",\"kept\":%" PRIu64,
                     outcome.counts.bytes_in, outcome.counts.bytes_out, outcome.counts.changed,
                     outcome.counts.kept);
        if (settings.undo_double) std::fprintf(out, ",\"undone\":%" PRIu64, outcome.undone.runs);
    } else {
        std::fputs("\"bytes_in\":null,\"bytes_out\":null,\"changed\":null,\"kept\":null", out);
        if (settings.undo_double) std::fputs(",\"undone\":null", out);
    }
    std::fputs("}\n", out);
}

void print_error(const std::string& shown, const Outcome& outcome) {
    std::fputs("textmend-tree: ", stderr);
    write_escaped_name(stderr, shown.c_str(), Backslashes::doubled);
    std::fprintf(stderr, ": %s\n", failure_reason(outcome).c_str());
}

}  // namespace

void Tally::count(const Outcome& outcome) {
    bytes += outcome.bytes_read;
    switch (outcome.action) {
        case Action::repaired:
            ++repaired;
            return;
        case Action::would_repair:
            ++would_repair;
            return;
        case Action::clean:
            ++clean;
            return;
        case Action::unchanged:
            ++unchanged;
            return;
        case Action::binary:
            ++binary;
            return;
        case Action::skipped:
            ++skipped;
            return;
        case Action::failed:
            ++failed;
            return;
        case Action::interrupted:
            return;
    }
}

std::uint64_t Tally::entries() const {
    return repaired + would_repair + clean + unchanged + binary + skipped + failed;
}

std::string failure_reason(const Outcome& outcome) {
    if (outcome.changed_by_other) return file_change_reason(outcome.change);
    return std::strerror(outcome.error != 0 ? outcome.error : EIO);
}

void print_outcome(std::FILE* out, const std::string& shown, const Outcome& outcome,
                   const PrintSettings& settings) {
    if (outcome.action == Action::interrupted) return;
    if (outcome.action == Action::failed) print_error(shown, outcome);
    if (settings.json) {
        print_json(out, shown, outcome, settings);
    } else if (has_line(outcome.action, settings.quiet)) {
        print_line(out, shown, outcome, settings);
    }
}

void print_summary(std::FILE* out, const Tally& t, double seconds, const PrintSettings& settings) {
    const double mib = static_cast<double>(t.bytes) / (1024.0 * 1024.0);
    if (settings.json) {
        std::fprintf(out,
                     "{\"summary\":{\"files\":%" PRIu64 ",\"repaired\":%" PRIu64
                     ",\"would_repair\":%" PRIu64 ",\"clean\":%" PRIu64 ",\"unchanged\":%" PRIu64
                     ",\"binary\":%" PRIu64 ",\"skipped\":%" PRIu64 ",\"failed\":%" PRIu64
                     ",\"bytes\":%" PRIu64 ",\"seconds\":%.3f}}\n",
                     t.entries(), t.repaired, t.would_repair, t.clean, t.unchanged, t.binary,
                     t.skipped, t.failed, t.bytes, seconds);
        return;
    }
    std::fprintf(out, "%" PRIu64 " %s: ", t.entries(), t.entries() == 1 ? "file" : "files");
    if (settings.dry_run) {
        std::fprintf(out, "%" PRIu64 " to repair", t.would_repair);
    } else {
        std::fprintf(out, "%" PRIu64 " repaired", t.repaired);
    }
    std::fprintf(out,
                 ", %" PRIu64 " clean, %" PRIu64 " unchanged, %" PRIu64 " binary, %" PRIu64
                 " skipped, %" PRIu64 " failed (%.1f MiB in %.2f s)\n",
                 t.clean, t.unchanged, t.binary, t.skipped, t.failed, mib, seconds);
}

}  // namespace textmend::tree
