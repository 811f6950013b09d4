#include "convert/to_latin1.hpp"

#include "convert/sequence.hpp"
#include "encoding/cp1252.hpp"
#include "encoding/latin1.hpp"
#include "encoding/utf8.hpp"

namespace textmend {

// The byte that stands for cp in the mode's target set, or -1.
static std::int32_t target_byte(std::int32_t cp, OutputMode mode) {
    if (mode == MODE_LATIN1) return is_latin1(cp) ? cp : -1;
    std::int32_t b = -1;
    if (mode == MODE_CP1252 && to_cp1252(cp, &b)) return b;
    return -1;
}

std::int32_t convert_to_latin1(std::int32_t c, InputStream& in, OutputStream& out,
                               OutputMode mode) {
    const std::int64_t saved = input_tell(in);
    SequenceBuffer buffer{};
    buffer[0] = static_cast<std::uint8_t>(c);
    const std::int32_t n = utf8_sequence_length(c);
    gather_sequence(buffer, n, in);
    if (n > 1 && utf8_has_continuations(buffer)) {
        const std::int32_t b = target_byte(utf8_decode(buffer), mode);
        if (b != -1) {
            output_write_byte(out, b);
            return 1;
        }
    }
    rewind_input(in, saved);
    return 0;
}

}  // namespace textmend
