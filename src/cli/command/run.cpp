#include "cli/command/run.hpp"

#include "cli/command/arguments.hpp"
#include "cli/command/exit_status.hpp"
#include "cli/command/messages.hpp"
#include "cli/command/usage.hpp"

namespace textmend {

namespace {

// The message for what went wrong, on standard error.
void report(const ConversionOutcome& outcome, const CommandLine& command) {
    switch (outcome.failed) {
        case FailedStep::none:
            return;
        case FailedStep::open_input:
            report_cannot_open_input(command.input_path);
            return;
        case FailedStep::open_output:
            report_cannot_open_output(command.output_path);
            return;
        case FailedStep::read:
            report_read_failure(command.input_path, outcome.error);
            return;
        case FailedStep::write:
            if (outcome.changed) {
                report_output_changed(command.output_path, outcome.change);
            } else {
                report_write_failure(command.output_path, outcome.error);
            }
            return;
    }
}

ExitStatus run(int argc, const char* const* argv, const IoHooks* hooks) {
    const CommandLine command = parse_command_line(argc, argv);
    if (!command.valid) {
        print_usage();
        return ExitStatus::usage;
    }
    ConversionSettings settings;
    settings.as_program = true;
    settings.hooks = hooks;
    const ConversionOutcome outcome =
        convert_file(command.input_path, command.output_path, command.mode, settings);
    report(outcome, command);
    return outcome.status;
}

}  // namespace

int run_textmend(int argc, const char* const* argv, const IoHooks* hooks) {
    return static_cast<int>(run(argc, argv, hooks));
}

}  // namespace textmend
