// Inspecting an input without converting it: which units the conversion
// changes, which it keeps although they are not characters of the target
// encoding, and how long the output is.
//
// A unit is judged exactly as the converters judge it:
// - default mode and -w: a lead byte followed by the continuation bytes of its
//   (permissive) length is a sequence. It is changed when its code point has
//   a byte in the target set (it becomes that byte), else kept: the lead byte
//   is declined and its continuation bytes are declined one by one after it,
//   so the whole sequence stays as it is. With -w a lone byte 81, 8D, 8F, 90
//   or 9D is kept too: Windows-1252 has no character there.
// - -u: a lead byte C2..F4 followed by its continuation bytes is copied; it is
//   kept when it is not valid UTF-8 (overlong, a surrogate, above U+10FFFF).
//   Every other high byte is lone: changed into the UTF-8 of its Latin-1 or
//   Windows-1252 character, or kept for the five undefined bytes.
// ASCII bytes are copied and are never units; so is a lone byte in the
// default mode and with -w. Units never contain the byte 0A, which is what
// lines are counted by.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/output_mode.hpp"

namespace textmend {

// Most bytes a unit has: a 6-byte form kept in the default mode.
inline constexpr std::int32_t UNIT_BYTES_MAX = 6;

// Most bytes a run of text encoded twice has (encoding/double_encoding.hpp):
// a run of three levels is at most 96 bytes (four runs of the level below,
// each at most 24 bytes: three runs of at most 8, each a two-byte character
// and two three-byte ones). An inspection that looks for runs holds back up
// to this many bytes at the end of a piece.
inline constexpr std::int32_t RUN_BYTES_MAX = 96;

// Bytes scanned for places where a run may start before they are inspected
// or converted: a span the cache still holds when the kernels come to it.
inline constexpr std::ptrdiff_t RUN_SCAN_CHUNK = 64 * 1024;

enum class UnitKind { changed, kept, double_run };

struct Unit {
    std::uint64_t offset;  // of its first byte in the input
    std::uint64_t line;    // 1 + the count of 0A bytes before it
    std::uint64_t column;  // 1 + the count of bytes since the last 0A
    UnitKind kind;
    std::int32_t length;
    const std::uint8_t* bytes;
    std::int32_t becomes;  // a double run: the character it becomes; else -1
};

using UnitHandler = void (*)(const Unit& unit, void* context);

struct InspectState {
    OutputMode mode;
    std::uint64_t offset = 0;  // input offset of the next byte to inspect
    std::int64_t growth = 0;   // bytes the output has more than the input so far
    std::uint64_t changed = 0;
    std::uint64_t kept = 0;
    // The first units are handed, with line and column, to the handler; lines
    // are counted only until then.
    std::uint64_t units_to_report = 0;
    UnitHandler handler = nullptr;
    void* context = nullptr;
    std::uint64_t line = 1;
    std::uint64_t line_start = 0;  // offset just after the last 0A seen
    // Runs of text encoded twice, when looked for: each is one unit of its
    // own kind, reported in place of the units in it, which are still
    // counted as changed and kept (the conversion changes them all the
    // same) and also counted apart.
    bool find_double = false;
    bool in_run = false;  // the walk is inside a run
    std::uint64_t double_runs = 0;
    std::uint64_t changed_in_runs = 0;
    std::uint64_t kept_in_runs = 0;
};

// Inspects the units that start in [p, end), p being at state.offset. When
// the input goes on after end (input_ends false), stops at a sequence that
// the bytes after end may still complete (a lead byte followed only by
// continuation bytes, fewer than it needs) and returns its lead byte: at most
// UNIT_BYTES_MAX - 1 bytes are left, to be inspected again with the bytes
// that follow; when runs are looked for, up to RUN_BYTES_MAX - 1
// (where a run may start that the bytes after end may make longer). Returns
// end otherwise.
const std::uint8_t* inspect_bytes(InspectState& state, const std::uint8_t* p,
                                  const std::uint8_t* end, bool input_ends);

// The exact count of bytes the conversion of the whole input [p, end) writes.
std::uint64_t converted_size_of(const std::uint8_t* p, const std::uint8_t* end, OutputMode mode);

}  // namespace textmend
