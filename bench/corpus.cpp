#include "corpus.hpp"

#include <cstdint>
#include <vector>

#include "encoding/cp1252.hpp"
#include "encoding/cp1252_reverse.hpp"
#include "encoding/sequence_buffer.hpp"
#include "encoding/utf8.hpp"

namespace textmend::bench {

namespace {

const std::vector<const char*> GERMAN = {
    "der",    "die",     "das",       "und",      "ist",       "nicht",     "mit",
    "auf",    "für",     "über",      "Straße",   "Größe",     "Bäcker",    "schön",
    "müssen", "können",  "würde",     "Mädchen",  "Frühstück", "Käse",      "Brötchen",
    "grün",   "Tür",     "Übersicht", "Stadt",    "Zeitung",   "Haus",      "morgen",
    "immer",  "Arbeit",  "heute",     "weiß",     "Fuß",       "gemütlich", "Bahnhof",
    "Wetter", "schnell", "Kinder",    "Geschäft", "spät",      "Gebäude",   "zurück",
    "Natur",  "Wald",    "Berg",      "Sonntag",  "Freund",    "Rechnung",  "Datei"};
const std::vector<const char*> FRENCH = {
    "le",      "la",     "les",    "et",    "est",     "une",      "dans",     "pour",   "avec",
    "à",       "été",    "café",   "élève", "où",      "déjà",     "français", "garçon", "forêt",
    "château", "naïf",   "Noël",   "très",  "après",   "première", "bientôt",  "maison", "ville",
    "temps",   "jardin", "soleil", "voilà", "hôpital", "fenêtre",  "rivière",  "marché", "thé",
    "pâte",    "leçon",  "reçu",   "fête",  "ça",      "grâce"};
const std::vector<const char*> SPANISH = {
    "el",      "la",      "los",     "y",         "es",      "en",     "con",
    "para",    "por",     "que",     "año",       "niño",    "señor",  "mañana",
    "España",  "corazón", "canción", "educación", "también", "está",   "más",
    "aquí",    "después", "difícil", "música",    "árbol",   "jamás",  "pequeño",
    "montaña", "río",     "ciudad",  "casa",      "tiempo",  "camino", "mujer",
    "sueño",   "baño",    "país",    "fácil",     "último",  "sábado"};
const std::vector<const char*> ENGLISH = {
    "the",   "of",     "and",    "to",      "in",     "is",    "that",   "for",   "it",   "as",
    "was",   "with",   "be",     "by",      "on",     "not",   "he",     "this",  "are",  "or",
    "his",   "from",   "at",     "which",   "but",    "have",  "an",     "they",  "you",  "were",
    "their", "one",    "all",    "we",      "can",    "her",   "has",    "there", "been", "file",
    "text",  "server", "record", "message", "number", "value", "system", "data"};
const std::vector<const char*> RUSSIAN = {
    "и",       "в",      "не",     "на",      "что",     "был",    "город",   "время",
    "человек", "работа", "жизнь",  "слово",   "дом",     "вопрос", "сторона", "страна",
    "мир",     "случай", "голова", "ребёнок", "система", "вода",   "место",   "друг",
    "письмо",  "книга",  "утро",   "дорога",  "история"};
const std::vector<const char*> CHINESE = {
    "我们", "中国", "时间", "工作", "问题", "发展", "经济", "社会", "国家", "文化", "学习",
    "城市", "历史", "生活", "技术", "世界", "朋友", "天气", "电脑", "文件", "系统", "数据"};

enum class Style { UTF8, LATIN1, CP1252 };

bool has_high_byte(const char* word) {
    for (const char* p = word; *p != '\0'; ++p) {
        if (static_cast<unsigned char>(*p) >= 0x80) return true;
    }
    return false;
}

// Real prose has an accented word now and then, not in every other place: a
// word with a non-ASCII letter is taken only one time in ACCENT_ODDS, which
// gives European prose 2-5 % high bytes. Word lists without plain words
// (Russian, Chinese) are used as they are.
constexpr std::size_t ACCENT_ODDS = 9;

const char* pick_word(Rng& rng, const std::vector<const char*>& words) {
    const bool want_accent = rng.below(ACCENT_ODDS) == 0;
    for (int tries = 0; tries < 64; ++tries) {
        const char* w = words[rng.below(words.size())];
        if (has_high_byte(w) == want_accent) return w;
    }
    return words[rng.below(words.size())];
}

// A paragraph of prose in one language, written in UTF-8. Windows-1252
// paragraphs get typographic quotes, dashes, ellipses and euro signs; the
// others guillemets and plain punctuation, so that Latin-1 can hold them.
std::string prose_paragraph(Rng& rng, const std::vector<const char*>& words, Style style) {
    std::string p;
    const std::size_t sentences = 3 + rng.below(5);
    for (std::size_t s = 0; s < sentences; ++s) {
        const bool quoted = rng.below(6) == 0;
        if (quoted) p += style == Style::CP1252 ? "\u201E" : "\u00AB";
        const std::size_t count = 6 + rng.below(12);
        for (std::size_t w = 0; w < count; ++w) {
            std::string word = pick_word(rng, words);
            if (w == 0 && word[0] >= 'a' && word[0] <= 'z')
                word[0] = static_cast<char>(word[0] - 32);
            p += word;
            if (w + 1 < count) {
                const std::size_t r = rng.below(30);
                if (r == 0) {
                    p += style == Style::CP1252 ? " \u2013 " : " - ";
                } else if (r == 1) {
                    p += ", ";
                } else if (r == 2 && style == Style::CP1252) {
                    p += " 12,50\u00A0\u20AC ";
                } else {
                    p += ' ';
                }
            }
        }
        if (quoted) p += style == Style::CP1252 ? "\u201C" : "\u00BB";
        p += style == Style::CP1252 && rng.below(8) == 0 ? "\u2026 " : ". ";
    }
    p += "\n\n";
    return p;
}

// Re-encodes UTF-8 text whose characters all exist in the target set.
std::string to_single_byte(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        SequenceBuffer buf{};
        const auto n =
            static_cast<std::size_t>(utf8_sequence_length(static_cast<unsigned char>(utf8[i])));
        for (std::size_t k = 0; k < n && i + k < utf8.size(); ++k) {
            buf[k] = static_cast<std::uint8_t>(utf8[i + k]);
        }
        std::int32_t byte = '?';
        to_cp1252(utf8_decode(buf), &byte);
        out.push_back(static_cast<char>(byte));
        i += n == 0 ? 1 : n;
    }
    return out;
}

const std::vector<const char*>& language(std::size_t i) {
    static const std::vector<const char*>* const all[] = {&GERMAN, &FRENCH, &SPANISH};
    return *all[i % 3];
}

std::string prose(Rng& rng, std::size_t size, CorpusKind kind) {
    std::string out;
    std::size_t index = 0;
    while (out.size() < size) {
        const auto& words = language(rng.below(3));
        std::string para;
        switch (kind) {
            case CorpusKind::MIXED_PROSE: {
                const Style style = static_cast<Style>(index++ % 3);
                para = prose_paragraph(rng, words, style);
                if (style != Style::UTF8) para = to_single_byte(para);
                break;
            }
            case CorpusKind::UTF8_PROSE:
                para = prose_paragraph(rng, words, Style::UTF8);
                break;
            case CorpusKind::LATIN1_PROSE:
                para = to_single_byte(prose_paragraph(rng, words, Style::LATIN1));
                break;
            case CorpusKind::ASCII:
                para = prose_paragraph(rng, ENGLISH, Style::LATIN1);
                for (char& c : para) {
                    if (static_cast<unsigned char>(c) >= 0x80) c = '"';
                }
                break;
            case CorpusKind::DENSE_UTF8:
                para = prose_paragraph(rng, index++ % 2 ? CHINESE : RUSSIAN, Style::UTF8);
                break;
            case CorpusKind::RANDOM_BYTES:
                break;
        }
        if (out.size() + para.size() > size) break;
        out += para;
    }
    out.resize(size, '\n');
    return out;
}

}  // namespace

const char* corpus_name(CorpusKind kind) {
    switch (kind) {
        case CorpusKind::MIXED_PROSE:
            return "mixed-prose";
        case CorpusKind::UTF8_PROSE:
            return "utf8-prose";
        case CorpusKind::LATIN1_PROSE:
            return "latin1-prose";
        case CorpusKind::ASCII:
            return "ascii";
        case CorpusKind::DENSE_UTF8:
            return "dense-utf8";
        case CorpusKind::RANDOM_BYTES:
            return "random-bytes";
    }
    return "unknown";
}

std::string make_corpus(CorpusKind kind, std::size_t size) {
    Rng rng{0x7E47 + static_cast<std::uint64_t>(kind)};
    if (kind != CorpusKind::RANDOM_BYTES) return prose(rng, size, kind);
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        std::uint64_t v = rng.next();
        for (std::size_t k = 0; k < 8 && i + k < size; ++k, v >>= 8)
            out[i + k] = static_cast<char>(v & 0xFF);
    }
    return out;
}

}  // namespace textmend::bench
