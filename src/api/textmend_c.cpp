// The C interface: thin functions over the C++ one that check their
// arguments, never write past the capacity they are given, and turn every
// outcome into a status.
#include "textmend/textmend.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "convert/span_conversion.hpp"
#include "textmend/textmend.hpp"

struct textmend_stream {
    textmend::StreamConverter converter;
};

namespace {

using textmend::Target;

bool is_target(textmend_target target) {
    return target == TEXTMEND_LATIN1 || target == TEXTMEND_WINDOWS1252 || target == TEXTMEND_UTF8;
}

Target to_target(textmend_target target) {
    return static_cast<Target>(target);
}

// Bytes may be null only when there are none.
bool bytes_given(const void* bytes, std::size_t size) {
    return bytes != nullptr || size == 0;
}

// Pieces fed through a buffer here, so that a stream writes exactly its
// result into the caller's buffer: stream_feed() itself stores whole
// vector registers past its result.
constexpr std::size_t FEED_CHUNK = 4096;
constexpr std::size_t FEED_ROOM = textmend::max_converted_size(FEED_CHUNK, Target::utf8);

// What feeding size bytes writes, found on a copy of the converter: the
// first bytes are fed until nothing is held back (the copy then stands at
// a byte where the conversion starts afresh), the rest is measured as a
// whole input up to the sequence its end may leave unfinished.
std::size_t feed_size(textmend::StreamConverter copy, const std::uint8_t* p, std::size_t size) {
    constexpr std::size_t STEP = 64;
    std::uint8_t scratch[textmend::max_converted_size(STEP, Target::utf8)];
    std::size_t written = 0;
    const std::uint8_t* const end = p + size;
    do {
        const std::size_t n =
            static_cast<std::size_t>(end - p) < STEP ? static_cast<std::size_t>(end - p) : STEP;
        written += textmend::stream_feed(copy, p, n, scratch);
        p += n;
    } while (p < end && copy.held_count() > 0);
    const std::uint8_t* decided = textmend::unfinished_sequence_start(p, end, copy.target);
    return written +
           textmend::converted_size(p, static_cast<std::size_t>(decided - p), copy.target);
}

// Feeds in chunks through a buffer, copying exactly the results into out.
std::size_t feed_exactly(textmend::StreamConverter& converter, const std::uint8_t* p,
                         std::size_t size, std::uint8_t* out) {
    std::uint8_t buffer[FEED_ROOM];
    std::size_t written = 0;
    for (std::size_t at = 0; at < size; at += FEED_CHUNK) {
        const std::size_t n = size - at < FEED_CHUNK ? size - at : FEED_CHUNK;
        const std::size_t got = textmend::stream_feed(converter, p + at, n, buffer);
        if (got > 0) std::memcpy(out + written, buffer, got);  // out may be null then
        written += got;
    }
    return written;
}

}  // namespace

extern "C" {

const char* textmend_version(void) {
    return textmend::version();
}

const char* textmend_status_text(textmend_status status) {
    switch (status) {
        case TEXTMEND_OK:
            return "ok";
        case TEXTMEND_WRONG_ARGUMENT:
            return "wrong argument";
        case TEXTMEND_BUFFER_TOO_SMALL:
            return "buffer too small";
        case TEXTMEND_OUT_OF_MEMORY:
            return "out of memory";
    }
    return "unknown status";
}

size_t textmend_safe_cut(const void* input, size_t size) {
    return size == 0 ? 0 : textmend::safe_cut(input, size);
}

size_t textmend_max_converted_size(size_t size, textmend_target target) {
    if (!is_target(target)) return 0;
    const std::size_t factor = target == TEXTMEND_UTF8 ? 3 : 1;
    const std::size_t fixed = factor * textmend::STREAM_HELD_MAX + 64;
    if (size > (SIZE_MAX - fixed) / factor) return 0;
    return textmend::max_converted_size(size, to_target(target));
}

textmend_status textmend_converted_size(const void* input, size_t size, textmend_target target,
                                        size_t* result) {
    if (!is_target(target) || !bytes_given(input, size) || result == nullptr)
        return TEXTMEND_WRONG_ARGUMENT;
    *result = textmend::converted_size(input, size, to_target(target));
    return TEXTMEND_OK;
}

textmend_status textmend_convert(const void* input, size_t size, textmend_target target, void* out,
                                 size_t capacity, size_t* result) {
    if (!is_target(target) || !bytes_given(input, size) || !bytes_given(out, capacity) ||
        result == nullptr)
        return TEXTMEND_WRONG_ARGUMENT;
    const textmend::CheckedConversion done =
        textmend::convert(input, size, out, capacity, to_target(target));
    *result = done.size;
    return done.fits ? TEXTMEND_OK : TEXTMEND_BUFFER_TOO_SMALL;
}

textmend_status textmend_convert_with(const void* input, size_t size, textmend_target target,
                                      unsigned options, void* out, size_t capacity,
                                      size_t* result) {
    if (!is_target(target) || !bytes_given(input, size) || !bytes_given(out, capacity) ||
        result == nullptr || (options & ~unsigned{TEXTMEND_UNDO_DOUBLE_ENCODING}) != 0)
        return TEXTMEND_WRONG_ARGUMENT;
    const textmend::ConversionOptions chosen{.undo_double_encoding =
                                                 (options & TEXTMEND_UNDO_DOUBLE_ENCODING) != 0};
    const textmend::CheckedConversion done =
        textmend::convert(input, size, out, capacity, to_target(target), chosen);
    *result = done.size;
    return done.fits ? TEXTMEND_OK : TEXTMEND_BUFFER_TOO_SMALL;
}

textmend_status textmend_stream_new(textmend_target target, textmend_stream** stream) {
    if (stream == nullptr) return TEXTMEND_WRONG_ARGUMENT;
    *stream = nullptr;
    if (!is_target(target)) return TEXTMEND_WRONG_ARGUMENT;
    *stream = new (std::nothrow) textmend_stream{textmend::StreamConverter{to_target(target)}};
    return *stream != nullptr ? TEXTMEND_OK : TEXTMEND_OUT_OF_MEMORY;
}

textmend_status textmend_stream_feed(textmend_stream* stream, const void* piece, size_t size,
                                     void* out, size_t capacity, size_t* result) {
    if (stream == nullptr || !bytes_given(piece, size) || !bytes_given(out, capacity) ||
        result == nullptr)
        return TEXTMEND_WRONG_ARGUMENT;
    textmend::StreamConverter& converter = stream->converter;
    const auto* p = static_cast<const std::uint8_t*>(piece);
    const std::size_t bound =
        textmend_max_converted_size(size, static_cast<textmend_target>(converter.target));
    if (bound != 0 && capacity >= bound) {
        *result = textmend::stream_feed(converter, p, size, out);
        return TEXTMEND_OK;
    }
    const std::size_t needed = feed_size(converter, p, size);
    *result = needed;
    if (needed > capacity) return TEXTMEND_BUFFER_TOO_SMALL;
    *result = feed_exactly(converter, p, size, static_cast<std::uint8_t*>(out));
    return TEXTMEND_OK;
}

textmend_status textmend_stream_finish(textmend_stream* stream, void* out, size_t capacity,
                                       size_t* result) {
    if (stream == nullptr || !bytes_given(out, capacity) || result == nullptr)
        return TEXTMEND_WRONG_ARGUMENT;
    // At most a few held bytes: converted on a copy, which is kept if the
    // result fits.
    textmend::StreamConverter copy = stream->converter;
    std::uint8_t buffer[textmend::max_converted_size(0, Target::utf8)];
    const std::size_t n = textmend::stream_finish(copy, buffer);
    *result = n;
    if (n > capacity) return TEXTMEND_BUFFER_TOO_SMALL;
    if (n > 0) std::memcpy(out, buffer, n);
    stream->converter = copy;
    return TEXTMEND_OK;
}

textmend_status textmend_stream_counts(const textmend_stream* stream, uint64_t* bytes_in,
                                       uint64_t* bytes_out) {
    if (stream == nullptr || bytes_in == nullptr || bytes_out == nullptr)
        return TEXTMEND_WRONG_ARGUMENT;
    *bytes_in = stream->converter.stats.bytes_in;
    *bytes_out = stream->converter.stats.bytes_out;
    return TEXTMEND_OK;
}

void textmend_stream_free(textmend_stream* stream) {
    delete stream;
}

textmend_status textmend_inspect(const void* input, size_t size, textmend_target target,
                                 textmend_inspection* result) {
    if (!is_target(target) || !bytes_given(input, size) || result == nullptr)
        return TEXTMEND_WRONG_ARGUMENT;
    const textmend::Inspection found = textmend::inspect(input, size, to_target(target));
    *result = textmend_inspection{found.bytes_in, found.bytes_out, found.changed, found.kept};
    return TEXTMEND_OK;
}

}  // extern "C"
