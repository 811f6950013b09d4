// Test corpora for text encoded twice: damaged prose with its originals,
// and legitimate text that holds the same byte patterns on purpose.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "textmend/textmend.hpp"

namespace textmend::test {

// How a program misread UTF-8 before writing it as UTF-8 again.
enum class Misreading { latin1, windows1252 };

// utf8 encoded once more: every byte above ASCII read as the character
// `via` gives it and written as UTF-8. Windows-1252's five undefined bytes
// become the C1 controls of the same value, as databases that call
// Windows-1252 "latin1" write them.
[[nodiscard]] std::string encode_again(std::string_view utf8, Misreading via);

// Paragraphs of German, French, Spanish, Portuguese, Russian and Greek
// prose with typographic punctuation, one per line, in UTF-8.
[[nodiscard]] const std::vector<std::string>& prose_paragraphs();

// One line of a corpus and what it should read.
struct CorpusLine {
    std::string text;      // as the corpus holds it
    std::string original;  // the line before any damage
    int encodings;         // 1: clean; 2, 3: encoded twice or three times
};

// Every paragraph clean and encoded twice and three times, via Latin-1 and
// via Windows-1252 (and both ways at once), in a shuffled order.
[[nodiscard]] std::vector<CorpusLine> damaged_corpus();

// Lines that hold runs that are not damage: all-caps words closed by quotes
// and guillemets, character tables with separators.
[[nodiscard]] std::vector<std::string> legitimate_lines();

// input converted by the library, undoing text encoded twice when undo is
// set (ConversionOptions).
[[nodiscard]] std::string converted(const std::string& input, Target target, bool undo);

// The lines joined, each ended by a newline.
[[nodiscard]] std::string joined(const std::vector<std::string>& lines);

}  // namespace textmend::test
