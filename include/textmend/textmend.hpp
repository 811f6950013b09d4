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
//     textmend::StreamConverter stream{textmend::Target::latin1};
//     for (std::string_view piece : pieces) textmend::stream_feed(stream, piece, out);
//     textmend::stream_finish(stream, out);
//     bool needed_repair = stream.stats.changed();
//
//     textmend::Inspection what = textmend::inspect(mixed_text, textmend::Target::latin1);
//     // what.changed places to convert, what.kept places left that are not Latin-1
//
// Inputs may be split: a byte below 0x80 is never part of a sequence, and
// every byte after it is judged afresh. So the pieces of an input cut just
// after any such byte (a newline, say), each converted on its own and the
// results joined, are exactly the conversion of the whole input. That is how
// one large file is spread over threads or machines.
//
// C++17 or later; with C++20, std::span overloads too. Nothing here
// allocates except the overloads that take a std::string or a std::vector,
// and nothing throws except what those containers throw and what a finding
// handler of yours throws. No state is shared between calls: separate
// converters and inspectors may be used from separate threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "textmend/target.hpp"

#if __cplusplus >= 202002L || (defined(_MSVC_LANG) && _MSVC_LANG >= 202002L)
#include <span>
#define TEXTMEND_HAS_SPAN 1
#endif

// The version of this header. version() tells the version of the library.
#define TEXTMEND_VERSION_MAJOR 1
#define TEXTMEND_VERSION_MINOR 2
#define TEXTMEND_VERSION_PATCH 0

// What the shared library exports: this header's functions and nothing else.
#if defined(__GNUC__) || defined(__clang__)
#define TEXTMEND_API __attribute__((visibility("default")))
#else
#define TEXTMEND_API
#endif

namespace textmend {

// The version of the library linked, as "MAJOR.MINOR.PATCH".
[[nodiscard]] TEXTMEND_API const char* version() noexcept;

// The instruction set the engine runs ("portable", "avx2" or "avx512"): the
// widest this processor runs, unless the environment variable
// TEXTMEND_KERNELS names a narrower one. The library never prints; a program
// that wants its user told of a request it could not grant asks here.
enum class KernelRequest : int {
    none = 0,         // TEXTMEND_KERNELS is not set, or empty
    granted = 1,      // the set it names runs
    unknown = 2,      // it names no set
    unsupported = 3,  // it names a set this processor cannot run
};

struct KernelChoice {
    const char* active;     // the set that runs
    const char* requested;  // TEXTMEND_KERNELS as it was read, or nullptr
    KernelRequest request;
};

[[nodiscard]] TEXTMEND_API KernelChoice kernel_choice() noexcept;

// Bytes a stream converter may hold back between pieces: the start of a
// sequence that the next piece may complete.
inline constexpr std::size_t STREAM_HELD_MAX = 16;

// Room that is always enough for the output of size input bytes: a quick
// upper bound, where converted_size() takes a pass over the input. The
// result itself is at most size bytes (3 * size for UTF-8); stream_feed()
// stores whole vector registers, so it needs a little room beyond it. The
// whole-input convert() overloads write exactly the result and nothing past
// it: converted_size() bytes are enough for them.
[[nodiscard]] constexpr std::size_t max_converted_size(std::size_t size, Target target) noexcept {
    return (target == Target::utf8 ? 3 : 1) * (size + STREAM_HELD_MAX) + 64;
}

// What a conversion did. Every change alters the length (a sequence becomes
// one byte, or one byte becomes a sequence), so the input needed repair
// exactly when the counts differ.
struct ConversionStats {
    std::uint64_t bytes_in = 0;
    std::uint64_t bytes_out = 0;
    [[nodiscard]] bool changed() const noexcept { return bytes_in != bytes_out; }
};

// Whole inputs (the end of the input is the end of the text).

// Converts into out, which must have room for the result: converted_size()
// bytes, or the quick bound max_converted_size(). Nothing is written past
// the result. Returns the count written.
[[nodiscard]] TEXTMEND_API std::size_t convert(const void* input, std::size_t size, void* out,
                                               Target target,
                                               ConversionStats* stats = nullptr) noexcept;

// The exact count of bytes the conversion writes, found without converting.
[[nodiscard]] TEXTMEND_API std::size_t converted_size(const void* input, std::size_t size,
                                                      Target target) noexcept;

// Where an input may be cut (see above): the length of its longest prefix
// that ends just after a byte below 0x80, or 0 when it holds none. The
// prefix and the rest, converted apart, give the conversion of the whole,
// in every target. Looks at the bytes only, from the end backwards.
[[nodiscard]] TEXTMEND_API std::size_t safe_cut(const void* input, std::size_t size) noexcept;
[[nodiscard]] inline std::size_t converted_size(std::string_view input, Target target) noexcept {
    return converted_size(input.data(), input.size(), target);
}

// The result of a conversion into a buffer of a given capacity.
struct CheckedConversion {
    std::size_t size = 0;  // bytes of the whole conversion
    bool fits = false;     // size <= capacity: out holds the whole conversion
};

// Converts into out, which holds capacity bytes, and never writes past them.
// When the conversion does not fit, fits is false, out holds nothing usable
// and size tells the room needed (stats are then left as they were).
[[nodiscard]] TEXTMEND_API CheckedConversion convert(const void* input, std::size_t size, void* out,
                                                     std::size_t capacity, Target target,
                                                     ConversionStats* stats = nullptr) noexcept;

// What a conversion may do beyond its target.
struct ConversionOptions {
    // Also undo text that was encoded twice: UTF-8 that was read as Latin-1
    // or Windows-1252 and written as UTF-8 again ("cafÃ©" for "café"), up to
    // four times over. Only lines read one way are undone: the line holds
    // such runs, every character of it above ASCII belongs to one, and each
    // becomes a letter, sign or punctuation mark that prose holds. The
    // character a run becomes is written as the target writes it. Lines are
    // decided on their own (up to 64 KiB each; longer ones are left alone),
    // so inputs cut after a newline convert as the whole. Off by default.
    bool undo_double_encoding = false;
};

// As the overload above, with options.
[[nodiscard]] TEXTMEND_API CheckedConversion convert(const void* input, std::size_t size, void* out,
                                                     std::size_t capacity, Target target,
                                                     const ConversionOptions& options,
                                                     ConversionStats* stats = nullptr) noexcept;

// Appends the conversion to out, growing it by exactly the size of the result.
TEXTMEND_API void convert_append(std::string_view input, std::string& out, Target target,
                                 ConversionStats* stats = nullptr);
TEXTMEND_API void convert_append(const std::uint8_t* input, std::size_t size,
                                 std::vector<std::uint8_t>& out, Target target,
                                 ConversionStats* stats = nullptr);

// Inputs in pieces.

// Converts an input that arrives in pieces of any size (down to one byte):
// the concatenated output is exactly the conversion of the concatenated
// input. A plain value: copy it to fork a conversion. Default construction
// gives a Latin-1 converter; the bytes it holds back are its own.
struct StreamConverter {
    StreamConverter() noexcept = default;
    explicit StreamConverter(Target target_encoding) noexcept : target(target_encoding) {}

    Target target = Target::latin1;
    ConversionStats stats;  // what was fed and written so far

    // Bytes held back from the pieces so far, for the next to complete.
    [[nodiscard]] std::size_t held_count() const noexcept { return held_count_; }

private:
    std::uint8_t held_[STREAM_HELD_MAX] = {};
    std::size_t held_count_ = 0;

    friend struct StreamConverterAccess;
};

// The same as StreamConverter{target}.
[[nodiscard]] TEXTMEND_API StreamConverter stream_converter(Target target) noexcept;

// Converts what can be converted of the next piece; out must have room for
// max_converted_size(size, target) bytes. Returns the count written. Only
// a sequence the next piece may still complete is held back: a lead byte at
// the end followed only by continuation bytes, fewer than it needs (at most
// five bytes, three for UTF-8). A piece that ends in ASCII or in a whole
// sequence is converted whole, so a line fed is a line written.
[[nodiscard]] TEXTMEND_API std::size_t stream_feed(StreamConverter& converter, const void* piece,
                                                   std::size_t size, void* out) noexcept;

// Converts what was held back: the input has ended. out must have room for
// max_converted_size(0, target) bytes. Returns the count written. The
// converter can then start on a new input.
[[nodiscard]] TEXTMEND_API std::size_t stream_finish(StreamConverter& converter,
                                                     void* out) noexcept;

// The same, appending to a string or a vector.
TEXTMEND_API void stream_feed(StreamConverter& converter, std::string_view piece, std::string& out);
TEXTMEND_API void stream_finish(StreamConverter& converter, std::string& out);
TEXTMEND_API void stream_feed(StreamConverter& converter, const std::uint8_t* piece,
                              std::size_t size, std::vector<std::uint8_t>& out);
TEXTMEND_API void stream_finish(StreamConverter& converter, std::vector<std::uint8_t>& out);

// Inspection: what a conversion would do to an input, without converting it.
//
// The input is judged in units, in input order, exactly as the conversion
// judges it. A unit is changed when the conversion writes other bytes for it:
// for Latin-1 and Windows-1252 a UTF-8 sequence that becomes one byte, for
// UTF-8 a lone byte that becomes a sequence. A unit is kept when it is copied
// as it is although it is not a character of the target encoding:
// - Latin-1: a sequence (lead byte and its continuation bytes) of a
//   character that Latin-1 lacks;
// - Windows-1252: the same, and a lone byte 81, 8D, 8F, 90 or 9D;
// - UTF-8: a sequence that has the form of UTF-8 but is not valid (overlong,
//   an encoded surrogate, above U+10FFFF), and a lone 81, 8D, 8F, 90 or 9D.
// An input is clean when it has neither: the conversion leaves it as it is,
// and it is all in the target encoding.

enum class FindingKind : int {
    changed = 1,
    kept = 2,
    double_encoded = 3,  // a run of text encoded twice; only from a ReportInspector
};

// Most bytes one unit has.
inline constexpr std::size_t FINDING_BYTES_MAX = 6;

// One unit of the input that is changed or kept.
struct Finding {
    std::uint64_t offset = 0;  // of its first byte, from 0
    std::uint64_t line = 1;    // 1 + the count of 0A bytes before it
    std::uint64_t column = 1;  // 1 + the count of bytes since the last 0A
    FindingKind kind = FindingKind::changed;
    std::uint8_t length = 0;                     // its bytes: bytes[0 .. length)
    std::uint8_t bytes[FINDING_BYTES_MAX] = {};  // as they are in the input
};

// The counts of an inspection.
struct Inspection {
    Target target = Target::latin1;
    std::uint64_t bytes_in = 0;
    std::uint64_t bytes_out = 0;  // exactly what the conversion writes
    std::uint64_t changed = 0;    // units the conversion changes
    std::uint64_t kept = 0;       // units kept that are not of the target encoding
    [[nodiscard]] bool clean() const noexcept { return changed == 0 && kept == 0; }
};

// Where the next byte an inspector is fed stands, counted as a finding's
// place is.
struct InputPlace {
    std::uint64_t offset = 0;
    std::uint64_t line = 0;    // 0 when no longer counted (see position())
    std::uint64_t column = 0;  // likewise
};

// Receives findings in input order.
using FindingHandler = void (*)(const Finding& finding, void* context);

// Inspects an input that arrives in pieces of any size (down to one byte),
// with the same result as inspecting the whole: like a StreamConverter it
// holds back only a sequence at the end of a piece that the next may
// complete. The first max_findings findings go to the handler as they are
// found (a handler may throw; the inspector is then to be started anew).
class TEXTMEND_API StreamInspector {
public:
    StreamInspector() noexcept : StreamInspector(Target::latin1) {}
    explicit StreamInspector(Target target, std::uint64_t max_findings = 0,
                             FindingHandler handler = nullptr, void* context = nullptr) noexcept;

    void feed(const void* piece, std::size_t size);
    void feed(std::string_view piece) { feed(piece.data(), piece.size()); }

    // Inspects what was held back: the input has ended. The inspector can
    // then start on a new input.
    [[nodiscard]] Inspection finish();

    // Where the next byte fed will stand. Lines are counted only while
    // findings are still to be handed over: after the last of max_findings
    // (and with none asked for), line and column are 0.
    [[nodiscard]] InputPlace position() const noexcept;

private:
    void restart() noexcept;

    Target target_;
    std::uint64_t max_findings_;
    FindingHandler handler_;
    void* context_;
    std::uint64_t offset_ = 0;
    std::int64_t growth_ = 0;
    std::uint64_t changed_ = 0;
    std::uint64_t kept_ = 0;
    std::uint64_t findings_left_ = 0;
    std::uint64_t line_ = 1;
    std::uint64_t line_start_ = 0;
    std::uint8_t held_[FINDING_BYTES_MAX] = {};
    std::size_t held_count_ = 0;

    friend struct InspectorAccess;
};

// Text encoded twice: a run is 2 to 4 characters, each written as UTF-8 and
// each one that Latin-1 or Windows-1252 writes as a single high byte, whose
// bytes together are one valid UTF-8 sequence of a character from U+0080 on
// ("Ã©" for "é", "â€™" for "’"); runs of runs (text encoded three or four
// times) count as one, undone as deep as they go. The conversion keeps them
// as they are unless asked to undo them (ConversionOptions).

// Most bytes a run has.
inline constexpr std::size_t DOUBLE_RUN_BYTES_MAX = 96;

// The name textmend-report's JSON gives a kind of finding.
[[nodiscard]] constexpr const char* finding_kind_name(FindingKind kind) noexcept {
    return kind == FindingKind::kept             ? "kept"
           : kind == FindingKind::double_encoded ? "double"
                                                 : "changed";
}

// The counts of a ReportInspector.
struct ReportCounts {
    // As StreamInspector counts them: every unit, those inside runs too, so
    // clean() still tells that the conversion leaves the input as it is.
    Inspection units;
    std::uint64_t double_runs = 0;      // runs found
    std::uint64_t changed_in_runs = 0;  // of units.changed, those inside runs
    std::uint64_t kept_in_runs = 0;     // of units.kept, those inside runs
};

// StreamInspector's inspection, which also finds runs of text encoded twice:
// each is handed over as one finding of kind double_encoded in place of the
// units in it, with length the count of its bytes and bytes the UTF-8 form
// of the character it becomes (zero bytes after it). Findings of the three
// kinds come in input order and count together towards max_findings. At the
// end of a piece it holds back up to DOUBLE_RUN_BYTES_MAX - 1 bytes, where a
// run may start that the next piece may make longer. This is what
// textmend-report counts.
class TEXTMEND_API ReportInspector {
public:
    explicit ReportInspector(Target target, std::uint64_t max_findings = 0,
                             FindingHandler handler = nullptr, void* context = nullptr) noexcept;

    void feed(const void* piece, std::size_t size);
    void feed(std::string_view piece) { feed(piece.data(), piece.size()); }
    [[nodiscard]] ReportCounts finish();
    [[nodiscard]] InputPlace position() const noexcept;

private:
    void restart() noexcept;

    Target target_;
    std::uint64_t max_findings_;
    FindingHandler handler_;
    void* context_;
    std::uint64_t offset_ = 0;
    std::int64_t growth_ = 0;
    std::uint64_t changed_ = 0;
    std::uint64_t kept_ = 0;
    std::uint64_t double_runs_ = 0;
    std::uint64_t changed_in_runs_ = 0;
    std::uint64_t kept_in_runs_ = 0;
    std::uint64_t findings_left_ = 0;
    std::uint64_t line_ = 1;
    std::uint64_t line_start_ = 0;
    std::uint8_t held_[DOUBLE_RUN_BYTES_MAX] = {};
    std::size_t held_count_ = 0;

    friend struct InspectorAccess;
};

// For a finding of kind double_encoded: what undoing its run writes in the
// target (the character it becomes, converted), into out, which has room for
// FINDING_BYTES_MAX bytes. Returns the count written.
inline std::size_t undone_bytes(const Finding& finding, Target target, std::uint8_t* out) noexcept {
    std::size_t n = 0;
    while (n < FINDING_BYTES_MAX && finding.bytes[n] != 0)
        ++n;
    return convert(finding.bytes, n, out, target);
}

// Inspects a whole input. The first max_findings findings are stored in
// findings (which must have room for them); their count goes to
// *findings_stored when that is not null.
[[nodiscard]] TEXTMEND_API Inspection inspect(const void* input, std::size_t size, Target target,
                                              Finding* findings = nullptr,
                                              std::size_t max_findings = 0,
                                              std::size_t* findings_stored = nullptr) noexcept;

// The same on a string; the first max_findings findings are appended to
// *findings when that is not null.
[[nodiscard]] TEXTMEND_API Inspection inspect(std::string_view input, Target target,
                                              std::vector<Finding>* findings = nullptr,
                                              std::size_t max_findings = 10);

#ifdef TEXTMEND_HAS_SPAN

// With C++20: the same on spans of bytes.

[[nodiscard]] inline std::size_t converted_size(std::span<const std::uint8_t> input,
                                                Target target) noexcept {
    return converted_size(input.data(), input.size(), target);
}

[[nodiscard]] inline CheckedConversion convert(std::span<const std::uint8_t> input,
                                               std::span<std::uint8_t> out, Target target,
                                               ConversionStats* stats = nullptr) noexcept {
    return convert(input.data(), input.size(), out.data(), out.size(), target, stats);
}

inline void stream_feed(StreamConverter& converter, std::span<const std::uint8_t> piece,
                        std::vector<std::uint8_t>& out) {
    stream_feed(converter, piece.data(), piece.size(), out);
}

[[nodiscard]] inline Inspection inspect(std::span<const std::uint8_t> input, Target target,
                                        std::span<Finding> findings = {},
                                        std::size_t* findings_stored = nullptr) noexcept {
    return inspect(input.data(), input.size(), target, findings.data(), findings.size(),
                   findings_stored);
}

#endif

}  // namespace textmend
