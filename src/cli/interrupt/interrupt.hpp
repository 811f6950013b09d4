// Ending a run by a signal without leaving an incomplete file behind.
//
// The signals that ask a process to end (SIGINT, SIGTERM, SIGHUP, SIGQUIT,
// SIGUSR1, SIGUSR2, SIGALRM) first remove the incomplete file the run has
// registered, then end the process by the same signal, as it would have
// ended without textmend's handler. A signal the caller chose to ignore
// (nohup, a background job) stays ignored. SIGXFSZ is ignored while the
// handlers are installed, so that a file-size limit is a failed write that
// the run reports and cleans up instead of a silent death.
#pragma once

#include <cstddef>

#include "cli/output/incomplete_file.hpp"

namespace textmend {

// Installs the handlers for as long as it lives, then puts back what the
// caller had.
class SignalHandlers {
public:
    SignalHandlers();
    ~SignalHandlers();
    SignalHandlers(const SignalHandlers&) = delete;
    SignalHandlers& operator=(const SignalHandlers&) = delete;
};

// Holds back the interrupting signals from the calling thread for as long as
// it lives, then restores its signal mask exactly: a signal that came meanwhile is delivered
// then. Creating a file and registering it for removal happen under one
// hold, so that no signal falls between the two.
class SignalHold {
public:
    SignalHold();
    ~SignalHold();
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;

    // Room for the mask it restores (a sigset_t on POSIX systems).
    static constexpr std::size_t SAVED_MASK_SIZE = 128;

private:
    alignas(std::max_align_t) unsigned char saved_[SAVED_MASK_SIZE];
};

// From now on an interrupting signal removes file (see remove_incomplete_file)
// before the process ends. The strings it points to must outlive the
// registration. Call under a SignalHold. Does nothing unless SignalHandlers
// are installed (in the program, not in a library caller).
void remove_on_signal(const IncompleteFile& file);

// Stops that: the file is complete, or removed already. Call under a
// SignalHold.
void keep_on_signal();

}  // namespace textmend
