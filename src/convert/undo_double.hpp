// Undoing text that was encoded twice, where the line around it makes that
// reading unambiguous. Finding a run is the rule of
// encoding/double_encoding.hpp; whether to undo it is decided here, line by
// line, so that the same line gives the same result wherever the input was
// cut into pieces.
//
// A line is undone when
// - it holds at least one run,
// - every character of it above ASCII belongs to a run: text encoded twice
//   holds nothing else, while text that merely contains such a pair ("«ÉTÉ»",
//   "“CAFÉ”") holds other accented letters or quotes of its own, and
// - every run becomes a character that such text plausibly held: a letter
//   of the Latin, Greek or Cyrillic alphabets, a sign of Latin-1 (§, °, «),
//   typographic punctuation, a currency sign, № or ™. Not, say, the IPA
//   letter that "É»" would become, and
// - it holds more than one run, or its one run does not end with a closing
//   quotation mark (» ” ’ ›): a quotation that ends on this line with an
//   all-caps word ("IRMÃ»", "ALLÃ”") reads as one run, and would become a
//   letter too.
// A line longer than DOUBLE_LINE_MAX is left as the plain conversion writes it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/output_mode.hpp"

namespace textmend {

inline constexpr std::size_t DOUBLE_LINE_MAX = std::size_t{64} * 1024;

// Just after the last newline in [from, q), or from when there is none.
[[nodiscard]] const std::uint8_t* line_start_before(const std::uint8_t* from,
                                                    const std::uint8_t* q);

// Whether damaged prose plausibly held cp where a run now stands.
[[nodiscard]] bool is_plausible_repair(std::int32_t cp);

// Whether [p, end), one line (its newline included or not), is text
// encoded twice that is to be undone.
[[nodiscard]] bool line_is_double_encoded(const std::uint8_t* p, const std::uint8_t* end);

// Converts the whole input [p, end) as convert_span does, but with the runs
// of the lines to undo written as the characters they become, in the target's
// way. Writes exactly the result; out needs room for the plain conversion's
// bound. Returns the end of the result.
[[nodiscard]] std::uint8_t* convert_undoing_double(const std::uint8_t* p, const std::uint8_t* end,
                                                   std::uint8_t* out, OutputMode mode);

// What undoing has done to a text.
struct UndoTally {
    std::uint64_t lines = 0;  // lines undone
    std::uint64_t runs = 0;   // runs undone in them
};

// Writes [src, end) at dst with the lines to undo as the UTF-8 text they
// become, the rest as it stands (no conversion), and adds what was undone
// to tally. dst may be src or lie before it: the two may overlap. Returns
// the end of what was written.
[[nodiscard]] std::uint8_t* undo_double_lines(std::uint8_t* dst, const std::uint8_t* src,
                                              const std::uint8_t* end, UndoTally& tally);

// The size of what convert_undoing_double writes.
[[nodiscard]] std::uint64_t converted_size_undoing_double(const std::uint8_t* p,
                                                          const std::uint8_t* end, OutputMode mode);

}  // namespace textmend
