// Deterministic benchmark inputs: the kinds of text textmend meets, and
// random bytes. The same seed and size give the same bytes on every machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace textmend::bench {

// splitmix64: tiny, fast and the same everywhere (unlike std distributions).
struct Rng {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
};

enum class CorpusKind {
    MIXED_PROSE,   // German/French/Spanish paragraphs in UTF-8, Latin-1 and Windows-1252
    UTF8_PROSE,    // the same prose, all UTF-8
    LATIN1_PROSE,  // the same prose, all Latin-1 (typographic quotes made plain)
    ASCII,         // English-like text, no high bytes
    DENSE_UTF8,    // Russian and Chinese paragraphs: nearly every byte high
    RANDOM_BYTES,  // uniformly random bytes
};

inline constexpr CorpusKind ALL_CORPORA[] = {CorpusKind::MIXED_PROSE,  CorpusKind::UTF8_PROSE,
                                             CorpusKind::LATIN1_PROSE, CorpusKind::ASCII,
                                             CorpusKind::DENSE_UTF8,   CorpusKind::RANDOM_BYTES};

// Short file-name-friendly name ("mixed-prose", ...).
const char* corpus_name(CorpusKind kind);

// Exactly size bytes of the kind. Prose is cut at a paragraph boundary and
// padded with newlines, so no sequence is cut at the end.
std::string make_corpus(CorpusKind kind, std::size_t size);

}  // namespace textmend::bench
