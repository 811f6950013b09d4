#include "report/halves.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <new>

#include "cli/file_layer.hpp"

#include <unistd.h>

namespace textmend::report {

namespace {

// Bytes read at a time by each half: small enough to be inspected from the
// core's own cache right after the read (256 KiB read and inspected fastest
// of 64 KiB to 1 MiB).
constexpr std::size_t READ_SIZE = 256 * 1024;

// Bytes before the middle in which the cut is looked for.
constexpr std::size_t WINDOW = 4096;

// A positioned read, retried when a signal interrupts it; -1 with errno on
// failure.
std::int64_t read_at(int fd, std::uint8_t* into, std::size_t n, std::uint64_t at) {
    for (;;) {
        const ssize_t got = pread(fd, into, n, static_cast<off_t>(at));
        if (got >= 0 || errno != EINTR) return got;
    }
}

// Where the second half starts, and the bytes on either side of it: the
// excerpts of findings next to the cut take them from the other half.
struct Cut {
    std::uint64_t at = 0;  // in the file
    std::uint8_t before[EXCERPT_SIDE] = {};
    std::uint8_t after[EXCERPT_SIDE] = {};
};

// The cut just after the last byte below 0x80 in the WINDOW bytes before the
// middle of [start, end). False when there is none, or the file no longer
// reaches past the middle.
bool find_cut(int fd, std::uint64_t start, std::uint64_t end, Cut& cut) {
    const std::uint64_t from = start + (end - start) / 2 - WINDOW;
    std::uint8_t window[WINDOW + EXCERPT_SIDE];
    if (read_at(fd, window, sizeof window, from) != static_cast<std::int64_t>(sizeof window))
        return false;
    const std::size_t i = safe_cut(window, WINDOW);
    if (i <= EXCERPT_SIDE) return false;
    cut.at = from + i;
    std::memcpy(cut.before, window + i - EXCERPT_SIDE, EXCERPT_SIDE);
    std::memcpy(cut.after, window + i, EXCERPT_SIDE);
    return true;
}

// One half: read from `from` to `to` (the second half reads on to the file's
// end), inspected with its findings' offsets counted from the input's start.
struct Half {
    Half(Target target, std::uint64_t wanted, ExampleCollector& examples, std::uint64_t start,
         std::uint64_t first, std::uint64_t last)
        : collector(examples),
          input_start(start),
          inspector(target, wanted, take_shifted, this),
          from(first),
          to(last),
          end(first) {}

    // The inspector's findings count from the half's start.
    static void take_shifted(const Finding& finding, void* half) {
        const Half& self = *static_cast<const Half*>(half);
        Finding moved = finding;
        moved.offset += self.from - self.input_start;
        ExampleCollector::take(moved, &self.collector);
    }

    ExampleCollector& collector;
    std::uint64_t input_start;  // where the input starts in the file
    ReportInspector inspector;
    std::uint64_t from;
    std::uint64_t to;
    std::uint64_t end;  // just after the last byte read
    InputPlace place;   // where the half ended, in lines and columns of its own
    ReportCounts result;
    int error = 0;
};

void inspect_half(int fd, Half& half, std::uint8_t* buffer, bool reads_on) {
    for (;;) {
        const std::uint64_t left = half.to > half.end ? half.to - half.end : 0;
        const std::size_t want =
            reads_on ? READ_SIZE
                     : static_cast<std::size_t>(std::min<std::uint64_t>(READ_SIZE, left));
        if (want == 0) break;
        const std::int64_t got = read_at(fd, buffer, want, half.end);
        if (got < 0) half.error = errno != 0 ? errno : EIO;
        if (got <= 0) break;
        const auto n = static_cast<std::size_t>(got);
        half.collector.begin_block(buffer, n, half.end - half.input_start);
        half.inspector.feed(buffer, n);
        half.collector.end_block();
        half.end += n;
        // A short read that reaches the size the file had is its last, as
        // reading in order has it.
        if (reads_on && n < want && half.end >= half.to) break;
    }
    half.place = half.inspector.position();
    half.result = half.inspector.finish();
}

// Gives the collector bytes that lie outside its half, at offset `at` of
// the input: the excerpts of findings next to the cut need them.
void show_bytes(ExampleCollector& collector, const std::uint8_t* bytes, std::size_t n,
                std::uint64_t at) {
    collector.begin_block(bytes, n, at);
    collector.end_block();
}

// The second half and what its thread needs.
struct SecondHalf {
    int fd;
    Half& half;
    std::uint8_t* buffer;
};

ReportCounts sum(const ReportCounts& a, const ReportCounts& b) {
    ReportCounts total = a;
    total.units.bytes_in += b.units.bytes_in;
    total.units.bytes_out += b.units.bytes_out;
    total.units.changed += b.units.changed;
    total.units.kept += b.units.kept;
    total.double_runs += b.double_runs;
    total.changed_in_runs += b.changed_in_runs;
    total.kept_in_runs += b.kept_in_runs;
    return total;
}

}  // namespace

bool inspect_in_halves(int fd, std::int64_t size, Target target, std::uint64_t wanted,
                       ExampleCollector& collector, FileInspection& inspected,
                       std::int64_t smallest) {
    smallest = std::max<std::int64_t>(smallest, 4 * WINDOW);
    if (size < smallest || !spinning_pays()) return false;
    const off_t at = lseek(fd, 0, SEEK_CUR);
    if (at < 0 || at >= size || size - at < smallest) return false;
    const auto start = static_cast<std::uint64_t>(at);
    const auto end = static_cast<std::uint64_t>(size);
    Cut cut;
    if (!find_cut(fd, start, end, cut)) return false;
    const std::unique_ptr<std::uint8_t[]> buffers(new (std::nothrow) std::uint8_t[2 * READ_SIZE]);
    if (!buffers) return false;

    ExampleCollector later_examples(wanted);
    Half first(target, wanted, collector, start, start, cut.at);
    Half second(target, wanted, later_examples, start, cut.at, end);
    const std::uint64_t cut_offset = cut.at - start;
    show_bytes(later_examples, cut.before, EXCERPT_SIDE, cut_offset - EXCERPT_SIDE);
    SecondHalf second_half{fd, second, buffers.get() + READ_SIZE};
    PlacedThread thread;
    if (!thread.start(
            [](void* half) {
                const SecondHalf& s = *static_cast<const SecondHalf*>(half);
                inspect_half(s.fd, s.half, s.buffer, true);
            },
            &second_half))
        return false;
    inspect_half(fd, first, buffers.get(), false);
    thread.join();

    inspected.error = first.error != 0 ? first.error : second.error;
    if (first.end < cut.at) {
        // The file shrank while it was read: its input ends with the first half.
        inspected.result = first.result;
    } else {
        show_bytes(collector, cut.after, EXCERPT_SIDE, cut_offset);
        inspected.result = sum(first.result, second.result);
        // A failure to read back the second half's spooled examples is the
        // collector's error, which the report checks.
        if (collector.count() < wanted) (void)collector.append(later_examples, first.place);
    }
    // Leave the descriptor where reading in order would have: it may be a
    // standard input that the caller's shell reads on from.
    (void)lseek(fd, static_cast<off_t>(first.end < cut.at ? first.end : second.end), SEEK_SET);
    return true;
}

}  // namespace textmend::report
