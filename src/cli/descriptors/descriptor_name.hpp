// Output paths that name a descriptor the process already has open. Such an
// output is written through that descriptor as it is: reopening the path
// would truncate what the caller set up (textmend in /dev/stdout >> log).
#pragma once

namespace textmend {

// The descriptor path names: 0, 1 and 2 for /dev/stdin, /dev/stdout and
// /dev/stderr, N for /dev/fd/N and /proc/self/fd/N (N in decimal digits).
// -1 for every other path.
[[nodiscard]] int descriptor_named_by(const char* path) noexcept;

}  // namespace textmend
