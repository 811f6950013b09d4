// libFuzzer target: the bulk path against the byte-at-a-time path, and the
// whole input against the same input fed in random pieces (read or viewed,
// with small output buffers). The first bytes choose the shapes; any
// difference aborts.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/convert_memory.hpp"
#include "support/kernel_sets.hpp"

using textmend::test::Engine;
using textmend::test::StreamShape;

namespace {

// One input with the active kernels; aborts on a difference.
int check(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    StreamShape shape;
    shape.read_block = 1 + data[0] % 97;
    shape.source_chunk = data[1] % 11;
    shape.output_buffer = data[2] & 1 ? 256 + data[2] * 3 : 1 + data[2] % 300;
    shape.view = (data[3] & 1) != 0;
    const std::string input(reinterpret_cast<const char*>(data) + 4, size - 4);
    StreamShape whole;  // a few KiB, as the inputs are small
    whole.read_block = 4096;
    whole.output_buffer = 4096;
    for (const textmend::OutputMode mode :
         {textmend::MODE_LATIN1, textmend::MODE_CP1252, textmend::MODE_UTF8}) {
        const std::string reference =
            textmend::test::convert_bytes(input, mode, Engine::BYTEWISE, whole);
        if (textmend::test::convert_bytes(input, mode, Engine::BULK, whole) != reference)
            std::abort();
        if (textmend::test::convert_bytes(input, mode, Engine::BULK, shape) != reference)
            std::abort();
        if (textmend::test::convert_bytes(input, mode, Engine::BYTEWISE, shape) != reference)
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
