#include "convert/to_utf8.hpp"

#include "convert/sequence.hpp"
#include "encoding/cp1252.hpp"
#include "encoding/latin1.hpp"
#include "encoding/utf8.hpp"

namespace textmend {

static void write_encoding(OutputStream& out, const EncodeBuffer& e) {
    output_write_block(out, e.data(), static_cast<std::size_t>(encoded_length(e)));
}

std::int32_t convert_to_utf8(std::int32_t c, InputStream& in, OutputStream& out) {
    const std::int64_t saved = input_tell(in);
    SequenceBuffer buffer{};
    buffer[0] = static_cast<std::uint8_t>(c);
    const std::int32_t n = utf8_sequence_length_strict(c);
    if (n == 1) {
        output_write_byte(out, c);
        return 1;
    }
    gather_sequence(buffer, n, in);
    if (n > 1 && utf8_has_continuations(buffer)) {
        output_write_block(out, buffer.data(), static_cast<std::size_t>(n));
        return 1;
    }
    // Not a sequence: c stands for itself, and the gathered bytes go back to be
    // judged as lead bytes of their own.
    std::int32_t handled = 0;
    if (is_latin1(c)) {
        write_encoding(out, utf8_encode(c));
        handled = 1;
    } else {
        const std::int32_t cp = cp1252_to_unicode(c);
        if (cp > 0) {
            write_encoding(out, utf8_encode(cp));
            handled = 1;
        }
    }
    rewind_input(in, saved);
    return handled;
}

}  // namespace textmend
