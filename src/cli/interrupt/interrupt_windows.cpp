#include <csignal>

#include "cli/interrupt/interrupt.hpp"
#include "cli/interrupt/pending_file.hpp"

namespace textmend {

namespace {

const int INTERRUPTING_SIGNALS[] = {SIGINT, SIGTERM};
constexpr int SIGNAL_COUNT = sizeof INTERRUPTING_SIGNALS / sizeof INTERRUPTING_SIGNALS[0];

using Handler = void (*)(int);
Handler previous_handlers[SIGNAL_COUNT];

extern "C" void remove_and_end(int signal_number) {
    if (pending_armed) remove_incomplete_file(pending_file);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

}  // namespace

SignalHandlers::SignalHandlers() {
    for (int i = 0; i < SIGNAL_COUNT; ++i) {
        previous_handlers[i] = std::signal(INTERRUPTING_SIGNALS[i], remove_and_end);
        if (previous_handlers[i] == SIG_IGN) std::signal(INTERRUPTING_SIGNALS[i], SIG_IGN);
    }
    handlers_installed = true;
}

SignalHandlers::~SignalHandlers() {
    handlers_installed = false;
    for (int i = 0; i < SIGNAL_COUNT; ++i)
        std::signal(INTERRUPTING_SIGNALS[i], previous_handlers[i]);
    pending_armed = 0;
}

// Windows delivers these signals on another thread and has no signal mask.
SignalHold::SignalHold() {}
SignalHold::~SignalHold() {}

}  // namespace textmend
