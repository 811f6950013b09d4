// A large regular file inspected as two halves at once: the first on the
// calling thread, the second on another, each reading its half with
// positioned reads and inspecting what it read while it is still in the
// processor's cache. Reading ahead on one thread leaves the inspection alone
// on the other; in halves both cores read and inspect.
//
// The halves meet just after a byte below 0x80, which no unit spans, so each
// is inspected as an input of its own: the counts add up, and the second
// half's findings are placed after the line and column where the first
// ended. The result is the same as inspecting the file in order.
#pragma once

#include <cstdint>

#include "report/examples.hpp"
#include "textmend/textmend.hpp"

namespace textmend::report {

// Smaller files are read in order: starting a thread, its buffers and
// moving it to another processor cost more than half of their inspection
// saves (2-core machine, against reading in order: 8 MiB 1.06-1.11 times
// the time, 12 MiB 0.96-1.09, 16 MiB 0.78-1.06, 24 MiB 0.72-0.98, 32 MiB
// 0.68-0.90, 60 MiB 0.71-0.75).
inline constexpr std::int64_t HALVES_FROM = 16 * 1024 * 1024;

struct FileInspection {
    ReportCounts result;
    int error = 0;  // the errno of a read that failed, else 0
};

// Inspects the regular file of size bytes open on fd, from where fd stands
// to the file's end (read on if it grew), with the first `wanted` findings
// going to collector; offsets count from where fd stood, and fd is left
// where reading in order leaves it. False, with nothing read or collected,
// when the file is not inspected in halves: smaller than `smallest` bytes
// from where fd stands, one processor, no byte below 0x80 near the middle,
// or no second thread.
[[nodiscard]] bool inspect_in_halves(int fd, std::int64_t size, Target target, std::uint64_t wanted,
                                     ExampleCollector& collector, FileInspection& inspected,
                                     std::int64_t smallest = HALVES_FROM);

}  // namespace textmend::report
