#include "convert/byte_loop.hpp"

#include <cassert>

#include "convert/bulk.hpp"
#include "convert/span_conversion.hpp"
#include "convert/to_latin1.hpp"
#include "convert/to_utf8.hpp"

namespace textmend {

namespace {

// Offers the next input byte to the converter; returns 0 at the end.
int convert_next_byte(InputStream& in, OutputStream& out, OutputMode mode) {
    const std::int32_t c = input_read_byte(in);
    if (c == END_OF_INPUT) return 0;
    const std::int32_t handled =
        mode == MODE_UTF8 ? convert_to_utf8(c, in, out) : convert_to_latin1(c, in, out, mode);
    if (!handled) output_write_byte(out, c);
    return 1;
}

// Stretches that pass through unchanged are written straight from the input
// when they are at least this long; shorter ones are not worth a write call.
constexpr std::size_t DIRECT_WRITE_MIN = 16 * 1024;

// Longest stretch written straight from the input at a time.
constexpr std::ptrdiff_t DIRECT_WRITE_MAX = 256 * 1024;

// Converts at most this much at a time before looking again for a stretch to
// write straight from the input.
constexpr std::size_t CONVERT_STRETCH = 16 * 1024;

// Lets the output's thread take a stretch of the window from p on, when it
// has one and wants it: the two threads then share the conversion.
bool offer_window(InputStream& in, OutputStream& out, OutputMode mode, const std::uint8_t* p,
                  const std::uint8_t* lead_end) {
    const std::size_t taken = output_offer(out, p, static_cast<std::size_t>(lead_end - p), mode);
    in.pos += taken;
    return taken > 0;
}

// Works through the input window, leaving its last BULK_LOOK_AHEAD - 1 bytes
// for later: writes a long unchanged stretch at its start straight from the
// input, lets the output's thread take a stretch, or else converts a stretch
// into the output buffer.
void convert_window(InputStream& in, OutputStream& out, OutputMode mode) {
    assert(input_available(in) >= BULK_LOOK_AHEAD && out.capacity - out.used >= BULK_MIN_OUTPUT);
    const std::uint8_t* p = in.window + in.pos;
    const std::uint8_t* lead_end = p + (input_available(in) - (BULK_LOOK_AHEAD - 1));
    // Looked for in pieces that stay in the processor's cache until written.
    const std::uint8_t* look_end =
        lead_end - p > DIRECT_WRITE_MAX ? p + DIRECT_WRITE_MAX : lead_end;
    const std::uint8_t* unchanged = bulk_unchanged_prefix(p, look_end, mode);
    if (static_cast<std::size_t>(unchanged - p) >= DIRECT_WRITE_MIN) {
        output_write_direct(out, p, static_cast<std::size_t>(unchanged - p));
        in.pos = static_cast<std::size_t>(unchanged - in.window);
        return;
    }
    if (offer_window(in, out, mode, p, lead_end)) return;
    // The converter may consume up to BULK_LOOK_AHEAD - 1 bytes past the span
    // and store up to BULK_OUTPUT_SLACK bytes beyond its result.
    const std::size_t factor = bulk_output_factor(mode);
    const std::size_t room = out.capacity - out.used;
    std::size_t span = static_cast<std::size_t>(lead_end - p);
    const std::size_t by_room = (room - BULK_OUTPUT_SLACK) / factor - BULK_LOOK_AHEAD;
    if (span > by_room) span = by_room;
    if (span > CONVERT_STRETCH) span = CONVERT_STRETCH;
    std::uint8_t* o = out.storage + out.used;
    const BulkProgress done = mode == MODE_UTF8 ? bulk_convert_to_utf8(p, p + span, o)
                                                : bulk_convert_to_latin1(p, p + span, o, mode);
    in.pos = static_cast<std::size_t>(done.in - in.window);
    out.used = static_cast<std::size_t>(done.out - out.storage);
}

// A live source has nothing more at hand: converts the bytes in the window
// whose conversion is decided (all but an unfinished sequence at the end)
// and passes the output on, before the next read waits for more.
void write_decided_bytes(InputStream& in, OutputStream& out, OutputMode mode) {
    const std::uint8_t* p = in.window + in.pos;
    const std::uint8_t* decided = unfinished_sequence_start(p, in.window + in.end, mode);
    const auto count = static_cast<std::size_t>(decided - p);
    if (out.capacity - out.used < bulk_output_factor(mode) * count) output_flush(out);
    if (out.error == 0 && count > 0) {
        const SpanProgress done = convert_span(p, decided, true, out.storage + out.used, mode);
        in.pos = static_cast<std::size_t>(decided - in.window);
        out.used = static_cast<std::size_t>(done.out - out.storage);
    }
    output_flush(out);
    in.drained = false;
}

}  // namespace

void convert_stream(InputStream& in, OutputStream& out, OutputMode mode) {
    if (out.capacity < BULK_MIN_OUTPUT) {
        convert_stream_bytewise(in, out, mode);
        return;
    }
    while (out.error == 0) {
        if (input_available(in) < BULK_LOOK_AHEAD) {
            if (in.live && in.drained && !input_fill_at_hand(in))
                write_decided_bytes(in, out, mode);
            if (input_available(in) < BULK_LOOK_AHEAD &&
                input_fill(in, BULK_LOOK_AHEAD) < BULK_LOOK_AHEAD) {
                // A live source gave a few bytes: see what they decide.
                if (!in.at_end) continue;
                // The input ends within a few bytes: judge them one by one.
                if (!convert_next_byte(in, out, mode)) return;
                continue;
            }
        }
        if (out.capacity - out.used < BULK_MIN_OUTPUT) {
            output_flush(out);
            continue;
        }
        convert_window(in, out, mode);
    }
}

void convert_stream_bytewise(InputStream& in, OutputStream& out, OutputMode mode) {
    while (out.error == 0 && convert_next_byte(in, out, mode)) {
    }
}

}  // namespace textmend
