// libFuzzer target: the engine in each of the three modes on arbitrary
// bytes, checked against the independent model of the tests.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/convert_memory.hpp"
#include "support/kernel_sets.hpp"
#include "support/model.hpp"

namespace {

// One input with the active kernels; aborts on a difference.
int check(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    // Buffers of a few KiB: the fuzzer's inputs are small, and large
    // buffers would cost a mapping per run.
    textmend::test::StreamShape shape;
    shape.read_block = 4096;
    shape.output_buffer = 4096;
    for (const textmend::OutputMode mode :
         {textmend::MODE_LATIN1, textmend::MODE_CP1252, textmend::MODE_UTF8}) {
        if (textmend::test::convert_bytes(input, mode, textmend::test::Engine::BULK, shape) !=
            textmend::test::model_convert(input, mode))
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
