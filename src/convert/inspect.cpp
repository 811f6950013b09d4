#include "convert/inspect.hpp"

#include <algorithm>

#include "convert/byte_tables.hpp"
#include "convert/inspect_blocks.hpp"
#include "convert/scan.hpp"
#include "encoding/double_encoding.hpp"
#include "encoding/target_byte.hpp"
#include "encoding/utf8.hpp"
#include "kernels/kernels.hpp"
#include "kernels/simd_support.hpp"

namespace textmend {

namespace {

// Walks one span: the bytes from p to end, the first of them at offset base.
struct Span {
    InspectState& state;
    const std::uint8_t* start;
    std::uint64_t base;

    std::uint64_t offset_of(const std::uint8_t* p) const {
        return base + static_cast<std::uint64_t>(p - start);
    }

    // Counts the lines of an ASCII stretch while units are still to be
    // reported (nothing else ever holds a 0A byte).
    void pass_ascii(const std::uint8_t* p, const std::uint8_t* stop) {
        if (state.units_to_report == 0) return;
        for (const std::uint8_t* nl = std::find(p, stop, '\n'); nl != stop;
             nl = std::find(nl + 1, stop, '\n')) {
            ++state.line;
            state.line_start = offset_of(nl) + 1;
        }
    }

    void record(const std::uint8_t* p, std::int32_t length, bool kept) {
        ++(kept ? state.kept : state.changed);
        if (state.in_run) {
            ++(kept ? state.kept_in_runs : state.changed_in_runs);
            return;
        }
        report(p, length, kept ? UnitKind::kept : UnitKind::changed, -1);
    }

    void record_run(const std::uint8_t* p, std::int32_t length, std::int32_t becomes) {
        ++state.double_runs;
        report(p, length, UnitKind::double_run, becomes);
    }

    void report(const std::uint8_t* p, std::int32_t length, UnitKind kind, std::int32_t becomes) {
        if (state.units_to_report == 0) return;
        --state.units_to_report;
        if (state.handler == nullptr) return;
        const std::uint64_t offset = offset_of(p);
        const Unit unit{offset, state.line, offset - state.line_start + 1, kind, length,
                        p,      becomes};
        state.handler(unit, state.context);
    }
};

constexpr bool is_undefined_in_windows1252(std::uint8_t c) {
    return c >= 0x80 && cp1252_to_unicode(c) == -1;
}

// Past the ASCII bytes from p on, counting their lines: one byte at a time
// while they are single, by the vector scan when there are more.
const std::uint8_t* pass_ascii(Span& span, const std::uint8_t* p, const std::uint8_t* lead_end) {
    const std::uint8_t* high = p;
    if (high < lead_end && *high < 0x80) ++high;
    if (high < lead_end && *high < 0x80) high = find_non_ascii(high, lead_end);
    span.pass_ascii(p, high);
    return high;
}

// Default mode and -w.
const std::uint8_t* inspect_to_single_bytes(Span& span, const std::uint8_t* p,
                                            const std::uint8_t* lead_end, const std::uint8_t* end,
                                            bool input_ends) {
    InspectState& state = span.state;
    while (p < lead_end) {
        p = pass_ascii(span, p, lead_end);
        if (p == lead_end) break;
        const std::int32_t n = PERMISSIVE_LENGTHS[*p];
        if (n >= 2) {
            if (end - p < n && !input_ends && utf8_continues(p, static_cast<std::int32_t>(end - p)))
                return p;
            if (end - p >= n && utf8_continues(p, n)) {
                const bool kept = target_byte(utf8_decode_at(p, n), state.mode) < 0;
                span.record(p, n, kept);
                if (!kept) state.growth -= n - 1;
                p += n;
                continue;
            }
        }
        if (state.mode == MODE_CP1252 && is_undefined_in_windows1252(*p)) span.record(p, 1, true);
        ++p;
    }
    return p;
}

// -u.
const std::uint8_t* inspect_to_utf8(Span& span, const std::uint8_t* p, const std::uint8_t* lead_end,
                                    const std::uint8_t* end, bool input_ends) {
    InspectState& state = span.state;
    while (p < lead_end) {
        p = pass_ascii(span, p, lead_end);
        if (p == lead_end) break;
        const std::int32_t n = STRICT_LENGTHS[*p];
        if (n >= 2) {
            if (end - p < n && !input_ends && utf8_continues(p, static_cast<std::int32_t>(end - p)))
                return p;
            if (end - p >= n && utf8_continues(p, n)) {
                if (!utf8_is_valid_sequence(p, n)) span.record(p, n, true);
                p += n;
                continue;
            }
        }
        const std::int32_t written = UTF8_REPLACEMENTS[*p].length;
        span.record(p, 1, written == 1);  // one byte: an undefined byte, copied
        state.growth += written - 1;
        ++p;
    }
    return p;
}

}  // namespace

const std::uint8_t* inspect_units(InspectState& state, const std::uint8_t* p,
                                  const std::uint8_t* lead_end, const std::uint8_t* end,
                                  bool input_ends) {
    Span span{state, p, state.offset};
    const std::uint8_t* stop = state.mode == MODE_UTF8
                                   ? inspect_to_utf8(span, p, lead_end, end, input_ends)
                                   : inspect_to_single_bytes(span, p, lead_end, end, input_ends);
    state.offset = span.offset_of(stop);
    return stop;
}

namespace {

// Where a run may start in the last two bytes of [p, end), whose next bytes
// are still to come (C3 and a second byte 82..B4), or end.
const std::uint8_t* run_start_at_end(const std::uint8_t* p, const std::uint8_t* end) {
    if (end - p >= 2 && end[-2] == 0xC3 && end[-1] >= 0x82 && end[-1] <= 0xB4) return end - 2;
    return end;
}

// The run at q, found at a place where one may start: reported as one unit,
// its own units walked and counted apart. Returns the place after it, or
// after the unit at q when there is no run.
const std::uint8_t* inspect_run_at(InspectState& state, const std::uint8_t* q,
                                   const std::uint8_t* end, bool input_ends) {
    const DoubleRun run = double_run_at(q, end);
    if (run.length == 0) return inspect_units(state, q, q + 1, end, input_ends);
    Span span{state, q, state.offset};
    span.record_run(q, static_cast<std::int32_t>(run.length), run.code_point);
    // Every unit of a run is a whole UTF-8 character inside it.
    state.in_run = true;
    const std::uint8_t* after = inspect_units(state, q, q + run.length, q + run.length, true);
    state.in_run = false;
    return after;
}

// inspect_bytes when runs are looked for: the block kernels stop before a
// block in which a run may start; from there, a chunk at a time, the bytes
// up to the next place where a run may start go to the block kernels and the
// unit walk, and each such place is looked at on its own, or held when the
// bytes after end may still make its run longer. (The portable set has no
// block kernels: its scanner finds each place.)
const std::uint8_t* inspect_with_runs(InspectState& state, const std::uint8_t* p,
                                      const std::uint8_t* end, bool input_ends) {
    const std::uint8_t* const last_start = input_ends ? end : run_start_at_end(p, end);
    for (;;) {
        p = kernels().inspect_blocks(state, p, end);
        const std::uint8_t* chunk_end = end - p > RUN_SCAN_CHUNK ? p + RUN_SCAN_CHUNK : end;
        // A start the scan finds lies before chunk_end: it needs two bytes after it.
        const std::uint8_t* q =
            kernels().find_double_run_start(p, chunk_end == end ? end : chunk_end + 2);
        if (q > last_start) q = last_start;
        const std::uint8_t* stop = q < chunk_end ? q : chunk_end;
        p = kernels().inspect_blocks(state, p, stop);
        // A unit before a place where a run may start never reaches past
        // it: that place is a lead byte.
        p = inspect_units(state, p, stop, end, input_ends);
        if (stop == q && q != end && p == q) {
            if (!input_ends && end - q < RUN_BYTES_MAX) return q;
            p = inspect_run_at(state, q, end, input_ends);
            continue;
        }
        if (p < stop || p == end) return p;  // held for want of bytes, or done
    }
}

}  // namespace

const std::uint8_t* inspect_bytes(InspectState& state, const std::uint8_t* p,
                                  const std::uint8_t* end, bool input_ends) {
    if (state.find_double) return inspect_with_runs(state, p, end, input_ends);
    p = kernels().inspect_blocks(state, p, end);
    // The last bytes, where a unit may reach past the end, one by one.
    return inspect_units(state, p, end, end, input_ends);
}

std::uint64_t converted_size_of(const std::uint8_t* p, const std::uint8_t* end, OutputMode mode) {
    const auto size = static_cast<std::int64_t>(end - p);
    const std::int64_t growth = kernels().growth_of_blocks(p, end, mode);
    InspectState state{mode};
    inspect_units(state, p, end, end, true);
    return static_cast<std::uint64_t>(size + growth + state.growth);
}

}  // namespace textmend
