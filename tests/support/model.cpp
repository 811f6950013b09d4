#include "support/model.hpp"

#include <cstdint>

namespace textmend::test {

namespace {

// The Windows-1252 characters of bytes 0x80..0x9F, spelled out in UTF-8; an
// empty entry is a byte Windows-1252 leaves undefined.
const char* const WINDOWS_1252_HIGH[32] = {
    "\u20AC", "",       "\u201A", "\u0192", "\u201E", "\u2026", "\u2020", "\u2021",
    "\u02C6", "\u2030", "\u0160", "\u2039", "\u0152", "",       "\u017D", "",
    "",       "\u2018", "\u2019", "\u201C", "\u201D", "\u2022", "\u2013", "\u2014",
    "\u02DC", "\u2122", "\u0161", "\u203A", "\u0153", "",       "\u017E", "\u0178",
};

unsigned byte_at(const std::string& s, std::size_t i) {
    return static_cast<unsigned char>(s[i]);
}

// Sequence length by the lead byte's bit pattern, 5- and 6-byte leads included.
int permissive_length(unsigned c) {
    if (c < 0x80 || c >= 0xFE) return 1;
    if (c < 0xC0) return 0;
    if (c < 0xE0) return 2;
    if (c < 0xF0) return 3;
    if (c < 0xF8) return 4;
    if (c < 0xFC) return 5;
    return 6;
}

int strict_length(unsigned c) {
    if (c >= 0xC2 && c <= 0xDF) return 2;
    if (c >= 0xE0 && c <= 0xEF) return 3;
    if (c >= 0xF0 && c <= 0xF4) return 4;
    return 0;
}

bool followed_by_continuations(const std::string& s, std::size_t i, int n) {
    if (n < 2 || i + static_cast<std::size_t>(n) > s.size()) return false;
    for (int k = 1; k < n; ++k) {
        if ((byte_at(s, i + static_cast<std::size_t>(k)) & 0xC0) != 0x80) return false;
    }
    return true;
}

std::int64_t decode_at(const std::string& s, std::size_t i, int n) {
    std::int64_t cp = byte_at(s, i) & (0xFFu >> (n + 1));
    for (int k = 1; k < n; ++k)
        cp = cp * 64 + (byte_at(s, i + static_cast<std::size_t>(k)) & 0x3F);
    return cp;
}

std::string utf8_of(std::int64_t cp) {
    std::string out;
    if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (cp & 0x3F));
    return out;
}

// The single byte for cp in the mode's target set, or -1.
int target_byte(std::int64_t cp, OutputMode mode) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    if (mode != MODE_CP1252 || cp > 0xFFFF) return -1;
    const std::string wanted = utf8_of(cp);
    for (int b = 0; b < 32; ++b) {
        if (wanted == WINDOWS_1252_HIGH[b]) return 0x80 + b;
    }
    return -1;
}

std::string model_to_single_byte(const std::string& in, OutputMode mode) {
    std::string out;
    std::size_t i = 0;
    while (i < in.size()) {
        const int n = permissive_length(byte_at(in, i));
        if (followed_by_continuations(in, i, n)) {
            const int b = target_byte(decode_at(in, i, n), mode);
            if (b >= 0) {
                out += static_cast<char>(b);
                i += static_cast<std::size_t>(n);
                continue;
            }
        }
        out += in[i++];
    }
    return out;
}

std::string model_to_utf8(const std::string& in) {
    std::string out;
    std::size_t i = 0;
    while (i < in.size()) {
        const unsigned c = byte_at(in, i);
        const int n = strict_length(c);
        if (c < 0x80) {
            out += in[i++];
        } else if (followed_by_continuations(in, i, n)) {
            out += in.substr(i, static_cast<std::size_t>(n));
            i += static_cast<std::size_t>(n);
        } else if (c >= 0xA0) {
            out += utf8_of(c);
            ++i;
        } else {
            const std::string w = WINDOWS_1252_HIGH[c - 0x80];
            out += w.empty() ? in.substr(i, 1) : w;
            ++i;
        }
    }
    return out;
}

bool undefined_in_windows_1252(unsigned c) {
    return c >= 0x80 && c <= 0x9F && WINDOWS_1252_HIGH[c - 0x80][0] == '\0';
}

// Valid UTF-8: shortest form, no surrogate, at most U+10FFFF.
bool valid_utf8(std::int64_t cp, int n) {
    const std::int64_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    return cp >= least[n] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
}

ModelUnit unit_at(const std::string&, std::size_t i, std::size_t n, bool kept) {
    return {i, n, kept, 0, 0};
}

// Line and column of every unit, in one pass over the input.
std::vector<ModelUnit> with_lines(const std::string& in, std::vector<ModelUnit> units) {
    std::size_t line = 1, line_start = 0, at = 0;
    for (ModelUnit& u : units) {
        for (; at < u.offset; ++at) {
            if (in[at] == '\n') {
                ++line;
                line_start = at + 1;
            }
        }
        u.line = line;
        u.column = u.offset - line_start + 1;
    }
    return units;
}

std::vector<ModelUnit> units_to_single_byte(const std::string& in, OutputMode mode) {
    std::vector<ModelUnit> units;
    std::size_t i = 0;
    while (i < in.size()) {
        const unsigned c = byte_at(in, i);
        const int n = permissive_length(c);
        if (followed_by_continuations(in, i, n)) {
            const bool kept = target_byte(decode_at(in, i, n), mode) < 0;
            units.push_back(unit_at(in, i, static_cast<std::size_t>(n), kept));
            i += static_cast<std::size_t>(n);
            continue;
        }
        if (mode == MODE_CP1252 && undefined_in_windows_1252(c))
            units.push_back(unit_at(in, i, 1, true));
        ++i;
    }
    return units;
}

std::vector<ModelUnit> units_to_utf8(const std::string& in) {
    std::vector<ModelUnit> units;
    std::size_t i = 0;
    while (i < in.size()) {
        const unsigned c = byte_at(in, i);
        const int n = strict_length(c);
        if (c < 0x80) {
            ++i;
        } else if (followed_by_continuations(in, i, n)) {
            if (!valid_utf8(decode_at(in, i, n), n)) {
                units.push_back(unit_at(in, i, static_cast<std::size_t>(n), true));
            }
            i += static_cast<std::size_t>(n);
        } else {
            units.push_back(unit_at(in, i, 1, undefined_in_windows_1252(c)));
            ++i;
        }
    }
    return units;
}

}  // namespace

std::vector<ModelUnit> model_units(const std::string& input, OutputMode mode) {
    return with_lines(input,
                      mode == MODE_UTF8 ? units_to_utf8(input) : units_to_single_byte(input, mode));
}

std::string model_convert(const std::string& input, OutputMode mode) {
    return mode == MODE_UTF8 ? model_to_utf8(input) : model_to_single_byte(input, mode);
}

}  // namespace textmend::test
