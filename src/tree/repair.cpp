#include "tree/repair.hpp"

#include <cerrno>
#include <cstring>

#include "cli/file_layer.hpp"
#include "tree/backup.hpp"
#include "tree/system.hpp"

namespace textmend::tree {

namespace {

Outcome with_action(Action action) {
    Outcome outcome;
    outcome.action = action;
    return outcome;
}

Outcome failure(int error) {
    Outcome outcome;
    outcome.action = Action::failed;
    outcome.error = error;
    return outcome;
}

const char* what_is_skipped(const InputFile& input) {
    return special_file_kind(input.fd);
}

bool stopped(const RepairSettings& settings) {
    return settings.stop != nullptr && settings.stop->load(std::memory_order_relaxed);
}

// What the inspection of a file decides.
Action judged(const Outcome& outcome, const RepairSettings& settings) {
    const bool undoes = outcome.undone.lines > 0;
    if (outcome.counts.clean() && !undoes) return Action::clean;
    if (outcome.counts.changed == 0 && !undoes) return Action::unchanged;
    return settings.dry_run ? Action::would_repair : Action::repaired;
}

// Inspects what the undoing has decided.
void inspect_undone(StreamInspector& inspector, LineUndoer& undoer) {
    inspector.feed(undoer.storage + undoer.ready_begin, undoer_ready(undoer));
    undoer_drop_ready(undoer);
}

// Reads the whole file once and inspects it: with undo_double, the text as
// undoing leaves it, so that the counts tell what the conversion will do. A
// file with a byte 00 is binary, and reading stops there unless binary
// files are wanted too.
Outcome inspect_file(const InputFile& input, const RepairSettings& settings, std::uint8_t* block) {
    StreamInspector inspector(settings.target);
    LineUndoer undoer{};
    undoer_init(undoer, block);
    Outcome outcome;
    for (;;) {
        if (stopped(settings)) return with_action(Action::interrupted);
        std::uint8_t* into = block;
        if (settings.undo_double) {
            std::size_t room = 0;
            into = undoer_room(undoer, room);
        }
        int fd = input.fd;
        const std::int64_t got = fd_read(&fd, into, INSPECT_BLOCK);
        if (got < 0) return failure(errno);
        if (got == 0) break;
        const auto n = static_cast<std::size_t>(got);
        outcome.bytes_read += n;
        // A short read that reaches the size the file had: its end, without
        // another read to be told so. A file that grew meanwhile is read on.
        const bool at_end =
            n < INSPECT_BLOCK && static_cast<std::int64_t>(outcome.bytes_read) >= input.size;
        if (!settings.binary && std::memchr(into, 0, n) != nullptr) {
            Outcome binary = with_action(Action::binary);
            binary.bytes_read = outcome.bytes_read;
            return binary;
        }
        if (settings.undo_double) {
            undoer_added(undoer, n);
            inspect_undone(inspector, undoer);
        } else {
            inspector.feed(into, n);
        }
        if (at_end) break;
    }
    if (settings.undo_double) {
        undoer_finish(undoer);
        inspect_undone(inspector, undoer);
    }
    outcome.counts = inspector.finish();
    outcome.counts.bytes_in = outcome.bytes_read;
    outcome.undone = undoer.tally;
    outcome.inspected = true;
    outcome.action = judged(outcome, settings);
    return outcome;
}

bool stop_requested(void* context, bool) {
    return static_cast<const std::atomic<bool>*>(context)->load(std::memory_order_relaxed);
}

// Whether the file's name still refers to the file input holds open: an
// in-place conversion that found nothing to change leaves it so.
bool still_the_same_file(const Entry& entry, const InputFile& input) {
    InputFile now;
    if (!open_input_file_at(entry.place(), now)) return false;
    const bool same = now.id == input.id;
    close_input_file(now);
    return same;
}

// Converts the file in place, keeping a backup first when asked.
void convert(const Entry& entry, InputFile& input, const RepairSettings& settings,
             Outcome& outcome) {
    const FilePlace place = entry.place();
    const std::string backup =
        settings.backup_suffix.empty() ? "" : entry.name + settings.backup_suffix;
    if (!backup.empty()) {
        if (const int error = make_backup(place, input, backup); error != 0) {
            outcome = failure(error);
            return;
        }
    }
    ConversionSettings conversion;
    conversion.undo_double = settings.undo_double;
    if (settings.stop != nullptr) {
        conversion.stop_requested = stop_requested;
        conversion.stop_context = const_cast<std::atomic<bool>*>(settings.stop);
    }
    const InputFile original = input;
    const ConversionOutcome done = convert_in_place_at(input, place, settings.target, conversion);
    bool replaced = done.failed == FailedStep::none;
    if (replaced && input.fd >= 0) replaced = !still_the_same_file(entry, input);
    if (!replaced && !backup.empty()) drop_backup(place, original, backup);
    if (done.failed == FailedStep::none) {
        // Changed again since it was inspected, so that nothing was left to change.
        if (!replaced) outcome.action = Action::clean;
        return;
    }
    if (stopped(settings)) {
        outcome.action = Action::interrupted;
        return;
    }
    outcome.action = Action::failed;
    outcome.error = done.error;
    outcome.changed_by_other = done.changed;
    outcome.change = done.change;
}

}  // namespace

Outcome repair_file(const Entry& entry, const RepairSettings& settings, std::uint8_t* block) {
    InputFile input;
    if (!open_input_file_at(entry.place(), input)) {
        if (errno == ELOOP) {
            Outcome outcome = with_action(Action::skipped);
            outcome.reason = "symbolic link";
            return outcome;
        }
        return failure(errno);
    }
    if (!input.is_regular) {
        Outcome outcome = with_action(Action::skipped);
        outcome.reason = what_is_skipped(input);
        close_input_file(input);
        return outcome;
    }
    Outcome outcome = inspect_file(input, settings, block);
    if (outcome.action == Action::repaired) convert(entry, input, settings, outcome);
    close_input_file(input);
    return outcome;
}

}  // namespace textmend::tree
