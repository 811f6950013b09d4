#include "support/convert_memory.hpp"

#include <vector>

#include "convert/byte_loop.hpp"
#include "convert/memory_io.hpp"

namespace textmend::test {

std::int64_t string_write(void* context, const std::uint8_t* src, std::size_t n) {
    static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(src), n);
    return static_cast<std::int64_t>(n);
}

std::string convert_bytes(const std::string& input, OutputMode mode, std::size_t read_block,
                          std::size_t source_chunk) {
    MemorySource source{reinterpret_cast<const std::uint8_t*>(input.data()), input.size(), 0,
                        source_chunk};
    std::vector<std::uint8_t> in_storage(input_storage_size(read_block));
    std::vector<std::uint8_t> out_storage(read_block < 16 ? 16 : read_block);
    std::string result;
    InputStream in{};
    OutputStream out{};
    input_init(in, memory_source(&source), in_storage.data(), read_block);
    output_init(out, ByteSink{string_write, &result}, out_storage.data(), out_storage.size());
    convert_stream(in, out, mode);
    output_flush(out);
    return result;
}

}  // namespace textmend::test
