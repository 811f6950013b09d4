// Removing the temporary file of an in-place conversion when the run is
// interrupted, so that a Ctrl-C leaves the directory as it was.
#pragma once

namespace textmend {

// Holds back SIGINT, SIGTERM and SIGHUP while the temporary file is being
// created, so that none can end the process between creating the file and
// arming its removal.
void hold_interrupts();

// From now on those signals remove path (which must stay valid; nullptr for
// nothing) before the process ends by the signal as it would have otherwise.
// A signal held back meanwhile is delivered now.
void release_interrupts(const char* path);

// Stops removing the path: it was renamed or removed already.
void keep_on_interrupt();

}  // namespace textmend
