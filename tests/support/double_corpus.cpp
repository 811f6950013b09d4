#include "support/double_corpus.hpp"

#include <algorithm>
#include <cstdint>
#include <random>

#include "encoding/cp1252.hpp"
#include "encoding/utf8.hpp"

namespace textmend::test {

namespace {

void append_utf8(std::string& out, std::int32_t cp) {
    const EncodeBuffer e = utf8_encode(cp);
    out.append(reinterpret_cast<const char*>(e.data()),
               static_cast<std::size_t>(encoded_length(e)));
}

std::int32_t misread(std::uint8_t byte, Misreading via) {
    if (via == Misreading::latin1) return byte;
    const std::int32_t cp = cp1252_to_unicode(byte);
    return cp < 0 ? byte : cp;
}

}  // namespace

std::string encode_again(std::string_view utf8, Misreading via) {
    std::string out;
    for (const char c : utf8) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte < 0x80)
            out += c;
        else
            append_utf8(out, misread(byte, via));
    }
    return out;
}

const std::vector<std::string>& prose_paragraphs() {
    static const std::vector<std::string> paragraphs = {
        // German
        "Die Straße führte über die Brücke zum Schloss; dort öffnete Jürgen die Tür, "
        "und Bärbel sagte: „Grüß Gott, wie schön, dass Sie kommen!“",
        "Übrigens: Größe und Gewicht der Äpfel (ca. 150 g) hängen vom Boden ab – "
        "schätzungsweise 12 % weniger als im Vorjahr, so Dr. Müller-Lüdenscheidt.",
        "Der Schlüssel zur Lösung: verknüpfbare Einträge, die sich gegenseitig ergänzen "
        "und so ‚Lücken‘ schließen … Öffnungszeiten: Mo–Fr 9–17 Uhr.",
        // French
        "L’été dernier, nous sommes allés à Noël chez ma grand-mère ; elle a préparé "
        "une bûche et un café crème – « délicieux », disait-on.",
        "À côté de l’église, où naît la rivière, le garçon aperçut un cœur gravé : "
        "« Ève & Raphaël, été 1998 ». Ça coûte 15 € à l’entrée.",
        "Déjà vu : l’hôtel était fermé, la fenêtre ouverte, et l’œuvre de Molière "
        "reposait sur l’étagère — où personne ne l’avait jamais lue…",
        // Spanish
        "¿Dónde está el niño? —preguntó la señora—. ¡Allí, junto al árbol, con su "
        "cigüeña de papel y el pingüino azul!",
        "El año pasado, Íñigo compró un piso en La Coruña por 120.000 €; según él, "
        "«la mejor decisión de mi vida».",
        "Mañana habrá reunión en la oficina número 3 a las 10:30; después, almuerzo "
        "en el mesón de Begoña, que está a 2 km.",
        // Portuguese
        "A situação não é fácil: a população da região diminuiu, e a irmã do João "
        "mudou-se para São Paulo há três anos.",
        "Ação, coração e emoção: o pão da avó, as maçãs do pomar e o órgão da igreja "
        "— tudo lembrava a infância em Portugal.",
        "Você já ouviu falar da Lâmpada de Aladim? É uma história antiga, contada por "
        "gerações, sobre um génio e três desejos.",
        // Russian
        "Ещё в детстве Фёдор мечтал о море: «Когда вырасту, стану капитаном», — "
        "говорил он бабушке, и она улыбалась.",
        "Съешь же ещё этих мягких французских булок, да выпей чаю. Объём работы "
        "большой, но всё будет готово к пятнице.",
        "Ёжик в тумане — любимый мультфильм Юрия; он знает его наизусть, "
        "от первого кадра до последнего, № 1 в списке.",
        // Greek
        "Η Αθήνα είναι η πρωτεύουσα της Ελλάδας· εκεί βρίσκεται η Ακρόπολη, "
        "που επισκέπτονται εκατομμύρια τουρίστες κάθε χρόνο.",
        "Ξεσκεπάζω την ψυχοφθόρα βδελυγμία. Το ταξίδι στη Θεσσαλονίκη κράτησε "
        "πέντε ώρες· «ήταν υπέροχο», είπε η Ζωή.",
        "Ο Διονύσιος διάβασε το βιβλίο του Καζαντζάκη δύο φορές, και ακόμη "
        "θυμάται τον Ζορμπά να χορεύει στην παραλία.",
        // Typographic punctuation and signs
        "“Quoted” and ‘single’ marks, an ellipsis…, dashes – and —, 30 °C, © 2024, "
        "§ 12 Abs. 3, 1 ‰, 20 € and ™ • ‹angles› « guillemets » ± 5 ½.",
        "It’s the author’s “best” work — or so the critics said; the price rose "
        "from £12 to £15 (about 25 %) in a year.",
    };
    return paragraphs;
}

std::vector<CorpusLine> damaged_corpus() {
    std::vector<CorpusLine> lines;
    constexpr Misreading L1 = Misreading::latin1, W = Misreading::windows1252;
    for (const std::string& p : prose_paragraphs()) {
        lines.push_back({p, p, 1});
        lines.push_back({encode_again(p, L1), p, 2});
        lines.push_back({encode_again(p, W), p, 2});
        lines.push_back({encode_again(encode_again(p, L1), L1), p, 3});
        lines.push_back({encode_again(encode_again(p, W), W), p, 3});
        lines.push_back({encode_again(encode_again(p, L1), W), p, 3});
    }
    std::mt19937_64 rng(2026);
    std::shuffle(lines.begin(), lines.end(), rng);
    return lines;
}

std::vector<std::string> legitimate_lines() {
    std::vector<std::string> lines;
    // All-caps words ending in an accented capital, closed by quotes and
    // guillemets: "É»" is C9 BB, the UTF-8 of U+027B.
    const std::vector<std::string> words = {"ÉTÉ",    "CAFÉ",  "IRMÃ",  "MAÇÃ",  "ALLÔ",
                                            "RÉSUMÉ", "PARTÍ", "AÑADÍ", "KÖLNÄ", "ÇÀ",
                                            "NOËL",   "DÉJÀ",  "ÉCHÓ"};
    const std::vector<std::pair<std::string, std::string>> quotes = {
        {"«", "»"}, {"“", "”"},   {"„", "“"}, {"‘", "’"},   {"‹", "›"},
        {"‚", "‘"}, {"« ", " »"}, {"»", "«"}, {"\"", "\""}, {"(", ")"}};
    for (const std::string& word : words) {
        // A quotation that began on a line before; a trade mark.
        lines.push_back(word + "»");
        lines.push_back(word + "”,");
        lines.push_back("   " + word + "’");
        if (word.find("Ã") == std::string::npos) lines.push_back(word + "™ (registered)");
        for (const auto& [open, close] : quotes) {
            lines.push_back(open + word + close);
            lines.push_back("Le titre était " + open + word + close + ", dit-il.");
            lines.push_back("Sie schrieb " + open + word + close + " an die Wand.");
        }
    }
    // Every accented capital, closed by every closing mark.
    for (std::int32_t capital = 0xC0; capital <= 0xDE; ++capital) {
        if (capital == 0xD7) continue;
        for (const char* close : {"»", "”", "’", "›", "“", "‘"}) {
            std::string line = "«CAP";
            append_utf8(line, capital);
            line += close;
            lines.push_back(line);
        }
    }
    // Character tables with separators.
    for (const char* separator : {" ", " | ", "\t", ", ", ";"}) {
        for (std::int32_t row = 0xA0; row <= 0xF0; row += 0x10) {
            std::string line = "U+00" + std::string(1, "0123456789ABCDEF"[row >> 4]) + "x";
            for (std::int32_t cp = row; cp < row + 16; ++cp) {
                line += separator;
                append_utf8(line, cp);
            }
            lines.push_back(line);
        }
        std::string windows = "Windows-1252 80-9F:";
        for (const std::int32_t cp : cp1252_table) {
            if (cp < 0) continue;
            windows += separator;
            append_utf8(windows, cp);
        }
        lines.push_back(windows);
    }
    return lines;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

std::string converted(const std::string& input, Target target, bool undo) {
    std::string out(max_converted_size(input.size(), target), '\0');
    const CheckedConversion done = convert(input.data(), input.size(), out.data(), out.size(),
                                           target, ConversionOptions{.undo_double_encoding = undo});
    out.resize(done.fits ? done.size : 0);
    return out;
}

}  // namespace textmend::test
