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

// Smaller files are read in order: starting a thread and its buffers cost
// more than half of their inspection saves. Measured on a 2-core machine
// since the second half starts on the other processor (placed_thread.hpp),
// halves against reading in order: 1 MiB 1.01-1.15 times the time, 2 MiB
// 0.95-1.03, 3 MiB 0.91-1.00, 4 MiB 0.85-0.92, 8 MiB 0.74-0.83, 12 MiB
// 0.69-0.75 (before that change halves paid from 16 MiB only).
inline constexpr std::int64_t HALVES_FROM = 4 * 1024 * 1024;

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
