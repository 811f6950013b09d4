#include "convert/undo_double.hpp"

#include <cstring>

#include "convert/inspect.hpp"
#include "convert/span_conversion.hpp"
#include "encoding/double_encoding.hpp"
#include "kernels/kernels.hpp"

namespace textmend {

namespace {

struct CodeRange {
    std::int32_t first, last;
};

// What a run may become in a line that is undone (see the header).
constexpr CodeRange PLAUSIBLE_REPAIRS[] = {
    {0x00A0, 0x00D6},  // Latin-1's signs and letters, but ×
    {0x00D8, 0x00F6},  // and ÷
    {0x00F8, 0x024F},  // Latin Extended-A and -B
    {0x0370, 0x03FF},  // Greek
    {0x0400, 0x04FF},  // Cyrillic
    {0x1E00, 0x1EFF},  // Latin Extended Additional
    {0x2010, 0x2027},  // dashes, quotes, bullets, ellipsis
    {0x202F, 0x205E},  // narrow no-break space, per mille, guillemets, ...
    {0x20A0, 0x20BF},  // currency signs
    {0x2116, 0x2116},  // №
    {0x2122, 0x2122},  // ™
};

// Whether the character just before p (a run's end) closes a quotation:
// », ”, ’ or ›, in UTF-8 (C2 BB, E2 80 9D, E2 80 99, E2 80 BA).
bool ends_with_closing_quotation_mark(const std::uint8_t* p) {
    if (p[-2] == 0xC2 && p[-1] == 0xBB) return true;
    return p[-3] == 0xE2 && p[-2] == 0x80 && (p[-1] == 0x9D || p[-1] == 0x99 || p[-1] == 0xBA);
}

}  // namespace

const std::uint8_t* line_start_before(const std::uint8_t* from, const std::uint8_t* q) {
    constexpr std::uint64_t ONES = 0x0101010101010101ULL, NEWLINES = ONES * '\n';
    while (q - from >= 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, q - 8, 8);
        const std::uint64_t x = word ^ NEWLINES;  // a zero byte where a newline is
        if (((x - ONES) & ~x & (ONES << 7)) != 0) break;
        q -= 8;
    }
    while (q > from && q[-1] != '\n')
        --q;
    return q;
}

namespace {

const std::uint8_t* line_end_after(const std::uint8_t* q, const std::uint8_t* end) {
    const void* newline = std::memchr(q, '\n', static_cast<std::size_t>(end - q));
    return newline == nullptr ? end : static_cast<const std::uint8_t*>(newline) + 1;
}

// The UTF-8 form of cp, a character a run becomes (U+0080..U+10FFFF), at
// out; returns its length. Written byte by byte into the caller's array, as
// a wider copy of bytes just stored would wait for them.
int utf8_of_undone(std::int32_t cp, std::uint8_t* out) {
    const auto c = static_cast<std::uint32_t>(cp);
    const auto continuation = [](std::uint32_t bits) {
        return static_cast<std::uint8_t>(0x80 | (bits & 0x3F));
    };
    if (c < 0x800) {
        out[0] = static_cast<std::uint8_t>(0xC0 | (c >> 6));
        out[1] = continuation(c);
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<std::uint8_t>(0xE0 | (c >> 12));
        out[1] = continuation(c >> 6);
        out[2] = continuation(c);
        return 3;
    }
    out[0] = static_cast<std::uint8_t>(0xF0 | (c >> 18));
    out[1] = continuation(c >> 12);
    out[2] = continuation(c >> 6);
    out[3] = continuation(c);
    return 4;
}

// The line [p, end), which is to be undone, as the UTF-8 text it becomes:
// each stretch of ASCII and each run's character handed to emit in turn, to
// be written as the target writes it.
// Returns the count of runs.
template <typename Emit>
std::uint64_t undo_line(const std::uint8_t* p, const std::uint8_t* end, Emit&& emit) {
    std::uint64_t runs = 0;
    while (p < end) {
        const std::uint8_t* ascii = p;
        p = kernels().find_non_ascii(p, end);
        if (p != ascii) emit(ascii, p);
        if (p == end) break;
        const DoubleRun run = double_run_at(p, end);
        std::uint8_t character[4];
        emit(character, character + utf8_of_undone(run.code_point, character));
        p += run.length;
        ++runs;
    }
    return runs;
}

struct Writer {
    std::uint8_t* out;
    OutputMode mode;

    void plain(const std::uint8_t* p, const std::uint8_t* end) {
        out = convert_span(p, end, true, out, mode).out;
    }
    void undone(const std::uint8_t* p, const std::uint8_t* end) {
        (void)undo_line(p, end,
                        [this](const std::uint8_t* b, const std::uint8_t* e) { plain(b, e); });
    }
};

struct SizeCounter {
    std::uint64_t size;
    OutputMode mode;

    void plain(const std::uint8_t* p, const std::uint8_t* end) {
        size += converted_size_of(p, end, mode);
    }
    void undone(const std::uint8_t* p, const std::uint8_t* end) {
        (void)undo_line(p, end,
                        [this](const std::uint8_t* b, const std::uint8_t* e) { plain(b, e); });
    }
};

// Writes the text as UTF-8, undone where a line is, at out, which never
// runs ahead of what is read: undoing only ever shortens a line.
struct InPlaceUndoer {
    std::uint8_t* out;
    UndoTally& tally;

    void copy(const std::uint8_t* p, const std::uint8_t* end) {
        const auto n = static_cast<std::size_t>(end - p);
        if (out != p) std::memmove(out, p, n);
        out += n;
    }
    void plain(const std::uint8_t* p, const std::uint8_t* end) { copy(p, end); }
    void undone(const std::uint8_t* p, const std::uint8_t* end) {
        tally.runs +=
            undo_line(p, end, [this](const std::uint8_t* b, const std::uint8_t* e) { copy(b, e); });
        ++tally.lines;
    }
};

// Hands the input to sink a span at a time: plain spans, and the lines to
// undo. Every span ends just after a newline or at the end of the input,
// where a conversion may be cut. The input is scanned RUN_SCAN_CHUNK bytes
// at a time, so that the plain spans are handed on while the cache holds them.
template <typename Sink>
void walk_undoing_double(const std::uint8_t* p, const std::uint8_t* end, Sink& sink) {
    const std::uint8_t* done = p;  // handed to sink up to here
    const std::uint8_t* from = p;  // searched up to here, at the start of a line
    while (from != end) {
        const std::uint8_t* chunk_end = end - from > RUN_SCAN_CHUNK ? from + RUN_SCAN_CHUNK : end;
        // A start the scan finds lies before chunk_end: it needs two bytes after it.
        const std::uint8_t* q =
            kernels().find_double_run_start(from, chunk_end == end ? end : chunk_end + 2);
        if (q >= chunk_end) {
            // None in the chunk: hand on its whole lines, search on from the last.
            const std::uint8_t* line = line_start_before(from, chunk_end);
            if (chunk_end == end) line = end;
            if (line != from) {
                sink.plain(done, line);
                done = from = line;
                continue;
            }
            // A line longer than the chunk: search on within it.
            q = kernels().find_double_run_start(chunk_end, end);
            if (q == end) break;
        }
        const std::uint8_t* line = line_start_before(from, q);
        const std::uint8_t* line_end = line_end_after(q, end);
        if (static_cast<std::size_t>(line_end - line) <= DOUBLE_LINE_MAX &&
            line_is_double_encoded(line, line_end)) {
            if (line != done) sink.plain(done, line);
            sink.undone(line, line_end);
            done = line_end;
        }
        from = line_end;
    }
    if (done != end) sink.plain(done, end);
}

}  // namespace

bool is_plausible_repair(std::int32_t cp) {
    for (const CodeRange& range : PLAUSIBLE_REPAIRS) {
        if (cp >= range.first && cp <= range.last) return true;
    }
    return false;
}

bool line_is_double_encoded(const std::uint8_t* p, const std::uint8_t* end) {
    int runs = 0;
    bool closes_quotation = false;
    for (p = kernels().find_non_ascii(p, end); p < end; p = kernels().find_non_ascii(p, end)) {
        const DoubleRun run = double_run_at(p, end);
        if (run.length == 0 || !is_plausible_repair(run.code_point)) return false;
        ++runs;
        p += run.length;
        closes_quotation = ends_with_closing_quotation_mark(p);
    }
    return runs > 1 || (runs == 1 && !closes_quotation);
}

std::uint8_t* convert_undoing_double(const std::uint8_t* p, const std::uint8_t* end,
                                     std::uint8_t* out, OutputMode mode) {
    Writer writer{out, mode};
    walk_undoing_double(p, end, writer);
    return writer.out;
}

std::uint8_t* undo_double_lines(std::uint8_t* dst, const std::uint8_t* src, const std::uint8_t* end,
                                UndoTally& tally) {
    InPlaceUndoer undoer{dst, tally};
    walk_undoing_double(src, end, undoer);
    return undoer.out;
}

std::uint64_t converted_size_undoing_double(const std::uint8_t* p, const std::uint8_t* end,
                                            OutputMode mode) {
    SizeCounter counter{0, mode};
    walk_undoing_double(p, end, counter);
    return counter.size;
}

}  // namespace textmend
