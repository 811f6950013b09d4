#include "convert/byte_loop.hpp"

#include "convert/to_latin1.hpp"
#include "convert/to_utf8.hpp"

namespace textmend {

void convert_stream(InputStream& in, OutputStream& out, OutputMode mode) {
    for (;;) {
        const std::int32_t c = input_read_byte(in);
        if (c == END_OF_INPUT || out.error != 0) return;
        const std::int32_t handled =
            mode == MODE_UTF8 ? convert_to_utf8(c, in, out) : convert_to_latin1(c, in, out, mode);
        if (!handled) output_write_byte(out, c);
    }
}

}  // namespace textmend
