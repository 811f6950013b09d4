// textmend: repairs text in which UTF-8 and Latin-1/Windows-1252 are mixed.
//
// Every high byte is judged by itself: what has the form of a UTF-8 sequence
// is taken as UTF-8, everything else as a single-byte character, and the
// result is in one target encoding. These functions give, byte for byte, what
// the textmend program writes for the same input.
//
//     #include <textmend/textmend.hpp>
//
//     std::string repaired;
//     textmend::convert_append(mixed_text, repaired, textmend::Target::utf8);
//
//     textmend::StreamConverter stream = textmend::stream_converter(textmend::Target::latin1);
//     for (std::string_view piece : pieces) textmend::stream_feed(stream, piece, out);
//     textmend::stream_finish(stream, out);
//     bool needed_repair = stream.stats.changed();
//
// Nothing here allocates except the overloads that append to a std::string or
// a std::vector, and nothing throws except what those containers throw. No
// state is shared between calls: separate converters may be used from
// separate threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace textmend {

// The target encoding; the values are those of the program's modes.
enum class Target : int {
    latin1 = 1,       // ISO-8859-1 (the program's default)
    windows1252 = 2,  // Windows-1252 (-w)
    utf8 = 3,         // UTF-8 (-u)
};

// Bytes a stream converter may hold back between pieces: the start of a
// sequence that the next piece may complete.
inline constexpr std::size_t STREAM_HELD_MAX = 16;

// Room the output of size input bytes needs. The result itself is at most
// size bytes (3 * size for UTF-8); the converters store whole vector
// registers, so they need a little room beyond it.
constexpr std::size_t max_converted_size(std::size_t size, Target target) {
    return (target == Target::utf8 ? 3 : 1) * (size + STREAM_HELD_MAX) + 64;
}

// What a conversion did. Every change alters the length (a sequence becomes
// one byte, or one byte becomes a sequence), so the input needed repair
// exactly when the counts differ.
struct ConversionStats {
    std::uint64_t bytes_in = 0;
    std::uint64_t bytes_out = 0;
    bool changed() const { return bytes_in != bytes_out; }
};

// Converts a whole input (its end is the end of the text). out must have room
// for max_converted_size(size, target) bytes. Returns the count written.
std::size_t convert(const void* input, std::size_t size, void* out, Target target,
                    ConversionStats* stats = nullptr);

// Appends the conversion of a whole input to out.
void convert_append(std::string_view input, std::string& out, Target target,
                    ConversionStats* stats = nullptr);
void convert_append(const std::uint8_t* input, std::size_t size, std::vector<std::uint8_t>& out,
                    Target target, ConversionStats* stats = nullptr);

// Converts an input that arrives in pieces of any size (down to one byte):
// the concatenated output is exactly the conversion of the concatenated
// input. A plain value; copy it to fork a conversion.
struct StreamConverter {
    Target target;
    std::uint8_t held[STREAM_HELD_MAX];  // held back from the pieces so far
    std::size_t held_count;
    ConversionStats stats;
};

StreamConverter stream_converter(Target target);

// Converts what can be converted of the next piece; out must have room for
// max_converted_size(size, target) bytes. Returns the count written.
std::size_t stream_feed(StreamConverter& converter, const void* piece, std::size_t size, void* out);

// Converts what was held back: the input has ended. out must have room for
// max_converted_size(0, target) bytes. Returns the count written. The
// converter can then start on a new input.
std::size_t stream_finish(StreamConverter& converter, void* out);

// The same, appending to a string.
void stream_feed(StreamConverter& converter, std::string_view piece, std::string& out);
void stream_finish(StreamConverter& converter, std::string& out);

}  // namespace textmend
