#include "support/convert_memory.hpp"

#include <vector>

#include "support/bytes.hpp"

#include "convert/byte_loop.hpp"
#include "support/memory_io.hpp"

namespace textmend::test {

std::int64_t string_write(void* context, const std::uint8_t* src, std::size_t n) {
    static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(src), n);
    return static_cast<std::int64_t>(n);
}

std::string convert_bytes(const std::string& input, OutputMode mode, Engine engine,
                          StreamShape shape) {
    MemorySource source{reinterpret_cast<const std::uint8_t*>(input.data()), input.size(), 0,
                        shape.source_chunk};
    std::vector<std::uint8_t> in_storage(input_storage_size(shape.read_block));
    std::vector<std::uint8_t> out_storage(shape.output_buffer);
    std::string result;
    InputStream in{};
    OutputStream out{};
    if (shape.view) {
        input_init(in, memory_view_source(&source), nullptr, shape.read_block);
    } else {
        input_init(in, memory_source(&source), in_storage.data(), shape.read_block);
        in.live = shape.live;
    }
    output_init(out, ByteSink{string_write, &result}, out_storage.data(), out_storage.size());
    if (engine == Engine::BULK) {
        convert_stream(in, out, mode);
    } else {
        convert_stream_bytewise(in, out, mode);
    }
    output_flush(out);
    return result;
}

std::string check_conversion(const std::string& input, OutputMode mode,
                             const std::string& expected) {
    const std::string pad(40, 'x');
    std::string report;
    const auto check = [&](const char* how, const std::string& got) {
        if (got != expected) report += std::string(how) + ": " + to_hex(got) + "; ";
    };
    check("bytewise", convert_bytes(input, mode, Engine::BYTEWISE));
    check("bulk", convert_bytes(input, mode, Engine::BULK));
    const std::string padded = convert_bytes(pad + input + pad, mode, Engine::BULK);
    const bool pads_kept = padded.size() >= 2 * pad.size() &&
                           padded.compare(0, pad.size(), pad) == 0 &&
                           padded.compare(padded.size() - pad.size(), pad.size(), pad) == 0;
    check("bulk, padded",
          pads_kept ? padded.substr(pad.size(), padded.size() - 2 * pad.size()) : padded);
    return report.empty() ? report : report + "expected " + to_hex(expected);
}

}  // namespace textmend::test
