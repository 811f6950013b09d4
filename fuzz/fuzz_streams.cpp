// libFuzzer target: inputs in pieces. The first byte of the fuzzer's data
// chooses the piece lengths, the rest is the input. Each mode, each kernel
// set: the C interface's stream fed into buffers of exactly the room each
// call reports (AddressSanitizer catches a byte written past them), and the
// program's engine reading a live source that gives one piece per read;
// both checked against the independent model. Aborts on a difference.
#include <textmend/textmend.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/convert_memory.hpp"
#include "support/kernel_sets.hpp"
#include "support/model.hpp"

namespace {

// Piece lengths from 1 to limit, from a small generator seeded by the
// fuzzer's first byte.
std::vector<std::size_t> piece_lengths(std::uint8_t seed, std::size_t size) {
    std::uint32_t state = seed * 2654435761U + 1U;
    const std::size_t limit = seed % 24 + 1;
    std::vector<std::size_t> lengths;
    for (std::size_t at = 0; at < size;) {
        state = state * 1664525U + 1013904223U;
        std::size_t n = (state >> 16) % limit + 1;
        if (n > size - at) n = size - at;
        lengths.push_back(n);
        at += n;
    }
    return lengths;
}

// Appends the output of one call that first said how much room it needs.
template <typename Call>
void append_exactly(std::string& output, Call call) {
    std::size_t needed = 0;
    const textmend_status asked = call(nullptr, 0, &needed);
    if (asked == TEXTMEND_OK) {
        if (needed != 0) std::abort();
        return;
    }
    if (asked != TEXTMEND_BUFFER_TOO_SMALL) std::abort();
    std::vector<char> room(needed);  // exactly: ASan guards its end
    std::size_t written = 0;
    if (call(room.data(), needed, &written) != TEXTMEND_OK || written != needed) std::abort();
    output.append(room.data(), written);
}

std::string through_c_stream(const std::string& input, const std::vector<std::size_t>& lengths,
                             textmend_target target) {
    textmend_stream* stream = nullptr;
    if (textmend_stream_new(target, &stream) != TEXTMEND_OK) std::abort();
    std::string output;
    std::size_t at = 0;
    for (const std::size_t n : lengths) {
        const char* piece = input.data() + at;
        append_exactly(output, [&](void* out, std::size_t capacity, std::size_t* result) {
            return textmend_stream_feed(stream, piece, n, out, capacity, result);
        });
        at += n;
    }
    append_exactly(output, [&](void* out, std::size_t capacity, std::size_t* result) {
        return textmend_stream_finish(stream, out, capacity, result);
    });
    textmend_stream_free(stream);
    return output;
}

int check(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::vector<std::size_t> lengths = piece_lengths(data[0], input.size());
    for (const textmend::OutputMode mode :
         {textmend::MODE_LATIN1, textmend::MODE_CP1252, textmend::MODE_UTF8}) {
        const std::string expected = textmend::test::model_convert(input, mode);
        if (through_c_stream(input, lengths, static_cast<textmend_target>(mode)) != expected)
            std::abort();
        textmend::test::StreamShape shape;
        shape.read_block = 4096;
        shape.output_buffer = 4096;
        shape.source_chunk = lengths.empty() ? 0 : lengths[0];
        shape.live = true;
        if (textmend::test::convert_bytes(input, mode, textmend::test::Engine::BULK, shape) !=
            expected)
            std::abort();
    }
    return 0;
}

}  // namespace

// Every input with each kernel set the processor supports.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    textmend::test::with_each_kernel_set([&] { check(data, size); });
    return 0;
}
