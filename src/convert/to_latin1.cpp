#include "convert/to_latin1.hpp"

#include "convert/sequence.hpp"
#include "encoding/target_byte.hpp"
#include "encoding/utf8.hpp"

namespace textmend {

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
