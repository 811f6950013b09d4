#include "support/json_lines.hpp"

#include <cstdint>

namespace textmend::test {

namespace {

struct Reader {
    const std::string& text;
    std::size_t at = 0;

    void skip_space() {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
            ++at;
    }
    bool take(char c) {
        skip_space();
        if (at < text.size() && text[at] == c) {
            ++at;
            return true;
        }
        return false;
    }
};

bool hex4(Reader& r, unsigned& value) {
    if (r.at + 4 > r.text.size()) return false;
    value = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = r.text[r.at++];
        value <<= 4;
        if (c >= '0' && c <= '9')
            value |= static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            value |= static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            value |= static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
    }
    return true;
}

void append_utf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool escape(Reader& r, std::string& out) {
    if (r.at >= r.text.size()) return false;
    const char c = r.text[r.at++];
    switch (c) {
        case '"':
        case '\\':
        case '/':
            out += c;
            return true;
        case 'b':
            out += '\b';
            return true;
        case 'f':
            out += '\f';
            return true;
        case 'n':
            out += '\n';
            return true;
        case 'r':
            out += '\r';
            return true;
        case 't':
            out += '\t';
            return true;
        case 'u': {
            unsigned cp = 0;
            if (!hex4(r, cp)) return false;
            if (cp >= 0xDC80 && cp <= 0xDCFF) {
                out += static_cast<char>(cp - 0xDC00);  // a byte that was not UTF-8
            } else if (cp >= 0xD800 && cp <= 0xDFFF) {
                return false;  // the programs write no other surrogate
            } else {
                append_utf8(out, cp);
            }
            return true;
        }
        default:
            return false;
    }
}

bool string_value(Reader& r, std::string& out) {
    if (!r.take('"')) return false;
    while (r.at < r.text.size()) {
        const auto c = static_cast<unsigned char>(r.text[r.at++]);
        if (c == '"') return true;
        if (c < 0x20) return false;
        if (c == '\\') {
            if (!escape(r, out)) return false;
        } else {
            out += static_cast<char>(c);
        }
    }
    return false;
}

bool object(Reader& r, JsonObject* members);

bool value(Reader& r, std::string& out) {
    r.skip_space();
    if (r.at >= r.text.size()) return false;
    const char c = r.text[r.at];
    if (c == '"') return string_value(r, out);
    if (c == '{') {
        const std::size_t start = r.at;
        if (!object(r, nullptr)) return false;
        out = r.text.substr(start, r.at - start);
        return true;
    }
    for (const char* word : {"true", "false", "null"}) {
        const std::string w = word;
        if (r.text.compare(r.at, w.size(), w) == 0) {
            r.at += w.size();
            out = w;
            return true;
        }
    }
    const std::size_t start = r.at;
    if (r.text[r.at] == '-') ++r.at;
    while (r.at < r.text.size() &&
           ((r.text[r.at] >= '0' && r.text[r.at] <= '9') || r.text[r.at] == '.' ||
            r.text[r.at] == 'e' || r.text[r.at] == 'E' || r.text[r.at] == '+')) {
        ++r.at;
    }
    out = r.text.substr(start, r.at - start);
    return !out.empty() && out != "-";
}

bool object(Reader& r, JsonObject* members) {
    if (!r.take('{')) return false;
    if (r.take('}')) return true;
    do {
        std::string key, member;
        if (!string_value(r, key) || !r.take(':') || !value(r, member)) return false;
        if (members != nullptr && !members->emplace(key, member).second) return false;
    } while (r.take(','));
    return r.take('}');
}

}  // namespace

std::optional<JsonObject> parse_json_object(const std::string& line) {
    Reader r{line};
    JsonObject members;
    if (!object(r, &members)) return std::nullopt;
    r.skip_space();
    if (r.at != line.size()) return std::nullopt;
    return members;
}

}  // namespace textmend::test
