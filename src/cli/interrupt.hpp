// Removing the temporary file of an in-place conversion when the run is
// interrupted, so that a Ctrl-C leaves the directory as it was.
#pragma once

namespace textmend {

// From now on SIGINT, SIGTERM and SIGHUP remove path (which must stay valid)
// before the process ends by the signal as it would have otherwise.
void remove_on_interrupt(const char* path);

// Stops removing the path: it was renamed or removed already.
void keep_on_interrupt();

}  // namespace textmend
