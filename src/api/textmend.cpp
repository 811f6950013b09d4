// The library's public functions, on top of the same engine as the program.
#include "textmend/textmend.hpp"

#include <cassert>
#include <cstdlib>
#include <cstring>

#include "convert/bulk.hpp"
#include "convert/inspect.hpp"
#include "convert/seam.hpp"
#include "convert/span_conversion.hpp"
#include "convert/undo_double.hpp"
#include "kernels/kernels.hpp"

namespace textmend {

namespace {

static_assert(BULK_LOOK_AHEAD <= STREAM_HELD_MAX / 2,
              "held bytes and a seam must fit the held buffer");

void count(ConversionStats& stats, std::size_t in, std::size_t out) {
    stats.bytes_in += in;
    stats.bytes_out += out;
}

#define TEXTMEND_STRINGIFY(x) #x
#define TEXTMEND_VERSION_TEXT(major, minor, patch) \
    TEXTMEND_STRINGIFY(major) "." TEXTMEND_STRINGIFY(minor) "." TEXTMEND_STRINGIFY(patch)

}  // namespace

// The held bytes of a stream converter are its own; the functions that feed
// and finish it reach them through here.
struct StreamConverterAccess {
    static std::uint8_t* held(StreamConverter& c) { return c.held_; }
    static std::size_t& held_count(StreamConverter& c) { return c.held_count_; }
};

const char* version() noexcept {
    return TEXTMEND_VERSION_TEXT(TEXTMEND_VERSION_MAJOR, TEXTMEND_VERSION_MINOR,
                                 TEXTMEND_VERSION_PATCH);
}

KernelChoice kernel_choice() noexcept {
    const char* requested = std::getenv("TEXTMEND_KERNELS");
    const KernelRequest request = kernel_request_outcome(requested, best_supported_kernel_set());
    return {kernels().name, request == KernelRequest::none ? nullptr : requested, request};
}

std::size_t convert(const void* input, std::size_t size, void* out, Target target,
                    ConversionStats* stats) noexcept {
    const auto* p = static_cast<const std::uint8_t*>(input);
    auto* o = static_cast<std::uint8_t*>(out);
    const SpanProgress done = convert_span(p, p + size, true, o, target);
    const auto written = static_cast<std::size_t>(done.out - o);
    if (stats != nullptr) count(*stats, size, written);
    return written;
}

std::size_t converted_size(const void* input, std::size_t size, Target target) noexcept {
    const auto* p = static_cast<const std::uint8_t*>(input);
    return static_cast<std::size_t>(converted_size_of(p, p + size, target));
}

std::size_t safe_cut(const void* input, std::size_t size) noexcept {
    const auto* p = static_cast<const std::uint8_t*>(input);
    std::size_t n = size;
    while (n > 0 && p[n - 1] >= 0x80)
        --n;
    return n;
}

CheckedConversion convert(const void* input, std::size_t size, void* out, std::size_t capacity,
                          Target target, ConversionStats* stats) noexcept {
    // A whole conversion writes exactly its result: with room for that, or
    // room that no result can exceed, straight into out.
    if (capacity >= max_converted_size(size, target)) {
        return {convert(input, size, out, target, stats), true};
    }
    const std::size_t needed = converted_size(input, size, target);
    if (needed > capacity) return {needed, false};
    return {convert(input, size, out, target, stats), true};
}

CheckedConversion convert(const void* input, std::size_t size, void* out, std::size_t capacity,
                          Target target, const ConversionOptions& options,
                          ConversionStats* stats) noexcept {
    if (!options.undo_double_encoding) return convert(input, size, out, capacity, target, stats);
    const auto* p = static_cast<const std::uint8_t*>(input);
    if (capacity < max_converted_size(size, target)) {
        const auto needed =
            static_cast<std::size_t>(converted_size_undoing_double(p, p + size, target));
        if (needed > capacity) return {needed, false};
    }
    auto* o = static_cast<std::uint8_t*>(out);
    const auto written =
        static_cast<std::size_t>(convert_undoing_double(p, p + size, o, target) - o);
    if (stats != nullptr) count(*stats, size, written);
    return {written, true};
}

StreamConverter stream_converter(Target target) noexcept {
    return StreamConverter{target};
}

namespace {

// Of the bytes [stop, end) that a conversion without the input's end left,
// those before an unfinished sequence at the end are decided and converted
// now; the rest (at most five bytes) are returned to be held. So a piece
// that ends in ASCII, or in a whole sequence, is converted whole.
SpanProgress convert_decided(const std::uint8_t* stop, const std::uint8_t* end, std::uint8_t* out,
                             OutputMode mode) {
    const std::uint8_t* decided = unfinished_sequence_start(stop, end, mode);
    if (decided == stop) return {stop, out};
    return {decided, convert_span(stop, decided, true, out, mode).out};
}

}  // namespace

std::size_t stream_feed(StreamConverter& converter, const void* piece, std::size_t size,
                        void* out) noexcept {
    std::uint8_t* const held_bytes = StreamConverterAccess::held(converter);
    std::size_t& held_count = StreamConverterAccess::held_count(converter);
    assert(held_count <= STREAM_HELD_MAX);
    const OutputMode mode = converter.target;
    const auto* p = static_cast<const std::uint8_t*>(piece);
    const std::uint8_t* end = p + size;
    auto* const first = static_cast<std::uint8_t*>(out);
    std::uint8_t* o = first;
    const auto convert_walk = [&](const std::uint8_t* from, const std::uint8_t* last) {
        const SpanProgress done = convert_span(from, last, false, o, mode);
        o = done.out;
        return done.stop;
    };
    const auto convert_settled = [&](const std::uint8_t* from, const std::uint8_t* last) {
        const SpanProgress decided = convert_decided(from, last, o, mode);
        o = decided.out;
        return decided.stop;
    };
    if (walk_seam<STREAM_HELD_MAX>(held_bytes, held_count, p, size, convert_walk,
                                   convert_settled)) {
        hold_bytes(held_bytes, held_count, convert_settled(convert_walk(p, end), end), end);
    }
    count(converter.stats, size, static_cast<std::size_t>(o - first));
    return static_cast<std::size_t>(o - first);
}

std::size_t stream_finish(StreamConverter& converter, void* out) noexcept {
    std::uint8_t* const held_bytes = StreamConverterAccess::held(converter);
    std::size_t& held_count = StreamConverterAccess::held_count(converter);
    auto* o = static_cast<std::uint8_t*>(out);
    const SpanProgress done =
        convert_span(held_bytes, held_bytes + held_count, true, o, converter.target);
    held_count = 0;
    const auto written = static_cast<std::size_t>(done.out - o);
    converter.stats.bytes_out += written;
    return written;
}

namespace {

// Appends with room for the converters' whole-register stores, then trims.
template <typename Container, typename Convert>
void append_with(Container& out, std::size_t room, Convert&& convert_into) {
    const std::size_t old_size = out.size();
    out.resize(old_size + room);
    const std::size_t written =
        convert_into(reinterpret_cast<std::uint8_t*>(out.data()) + old_size);
    out.resize(old_size + written);
}

// Appends exactly the conversion's size: the size is looked up first (which
// costs a fraction of converting), so that a large input does not need three
// times its size in memory.
template <typename Container>
void append_exactly(Container& out, const void* input, std::size_t size, Target target,
                    ConversionStats* stats) {
    const std::size_t needed = converted_size(input, size, target);
    const std::size_t old_size = out.size();
    out.resize(old_size + needed);
    (void)convert(input, size, reinterpret_cast<std::uint8_t*>(out.data()) + old_size, needed,
                  target, stats);
}

}  // namespace

void convert_append(std::string_view input, std::string& out, Target target,
                    ConversionStats* stats) {
    append_exactly(out, input.data(), input.size(), target, stats);
}

void convert_append(const std::uint8_t* input, std::size_t size, std::vector<std::uint8_t>& out,
                    Target target, ConversionStats* stats) {
    append_exactly(out, input, size, target, stats);
}

void stream_feed(StreamConverter& converter, std::string_view piece, std::string& out) {
    append_with(out, max_converted_size(piece.size(), converter.target), [&](std::uint8_t* o) {
        return stream_feed(converter, piece.data(), piece.size(), o);
    });
}

void stream_finish(StreamConverter& converter, std::string& out) {
    append_with(out, max_converted_size(0, converter.target),
                [&](std::uint8_t* o) { return stream_finish(converter, o); });
}

void stream_feed(StreamConverter& converter, const std::uint8_t* piece, std::size_t size,
                 std::vector<std::uint8_t>& out) {
    append_with(out, max_converted_size(size, converter.target),
                [&](std::uint8_t* o) { return stream_feed(converter, piece, size, o); });
}

void stream_finish(StreamConverter& converter, std::vector<std::uint8_t>& out) {
    append_with(out, max_converted_size(0, converter.target),
                [&](std::uint8_t* o) { return stream_finish(converter, o); });
}

}  // namespace textmend
