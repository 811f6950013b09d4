// Signals and the writer thread: a new thread inherits the signal mask of
// the one that creates it, so the writer is started under a mask that holds
// back every signal sent to the process. Those then reach the converting
// thread, where the handlers expect them. Not held back are the signals its
// own work raises (a fault; SIGPIPE and SIGXFSZ from a write), which act as
// they would with one thread. Windows has no signal masks: nothing is done.
#pragma once

#include <cstddef>

namespace textmend {

// Sets the calling thread's mask for a thread about to be started, and puts
// the mask back when it goes.
class MaskForNewThread {
public:
    MaskForNewThread();
    ~MaskForNewThread();
    MaskForNewThread(const MaskForNewThread&) = delete;
    MaskForNewThread& operator=(const MaskForNewThread&) = delete;

    // Room for the mask it restores (a sigset_t on POSIX systems).
    static constexpr std::size_t SAVED_MASK_SIZE = 128;

private:
    alignas(std::max_align_t) unsigned char saved_[SAVED_MASK_SIZE];
};

}  // namespace textmend
