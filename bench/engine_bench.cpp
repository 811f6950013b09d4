// Micro-benchmarks of the engine in memory: bytes per second per mode and
// corpus kind, without the file system's noise.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "convert/byte_loop.hpp"
#include "convert/memory_io.hpp"
#include "corpus.hpp"

namespace {

using textmend::bench::CorpusKind;

std::int64_t discard(void*, const std::uint8_t*, std::size_t n) {
    return static_cast<std::int64_t>(n);
}

const std::string& corpus(CorpusKind kind) {
    static std::string cache[6];
    std::string& c = cache[static_cast<int>(kind)];
    if (c.empty()) c = textmend::bench::make_corpus(kind, 16 << 20);
    return c;
}

void convert(benchmark::State& state, CorpusKind kind, textmend::OutputMode mode, bool bytewise) {
    const std::string& input = corpus(kind);
    std::vector<std::uint8_t> in_storage(textmend::input_storage_size(textmend::INPUT_BLOCK_SIZE));
    std::vector<std::uint8_t> out_storage(textmend::OUTPUT_BUFFER_SIZE);
    for (auto _ : state) {
        // A viewed source, as the library's functions see the caller's
        // memory: no copy into the stream. (The program reads files into a
        // block instead, which keeps its input in the cache.)
        textmend::MemorySource source{reinterpret_cast<const std::uint8_t*>(input.data()),
                                      input.size(), 0, 0};
        textmend::InputStream in{};
        textmend::OutputStream out{};
        textmend::input_init(
            in, bytewise ? textmend::memory_source(&source) : textmend::memory_view_source(&source),
            in_storage.data(), textmend::INPUT_BLOCK_SIZE);
        textmend::output_init(out, textmend::ByteSink{discard, nullptr}, out_storage.data(),
                              out_storage.size());
        if (bytewise) {
            textmend::convert_stream_bytewise(in, out, mode);
        } else {
            textmend::convert_stream(in, out, mode);
        }
        textmend::output_flush(out);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

void register_all() {
    const struct {
        const char* name;
        textmend::OutputMode mode;
    } modes[] = {{"latin1", textmend::MODE_LATIN1},
                 {"cp1252", textmend::MODE_CP1252},
                 {"utf8", textmend::MODE_UTF8}};
    for (CorpusKind kind : textmend::bench::ALL_CORPORA) {
        for (const auto& m : modes) {
            const std::string name = std::string(m.name) + "/" + textmend::bench::corpus_name(kind);
            benchmark::RegisterBenchmark(name.c_str(), convert, kind, m.mode, false)
                ->Unit(benchmark::kMillisecond);
        }
    }
    // The byte-at-a-time reference, for comparison.
    for (const auto& m : modes) {
        const std::string name = std::string("bytewise-") + m.name + "/mixed-prose";
        benchmark::RegisterBenchmark(name.c_str(), convert, CorpusKind::MIXED_PROSE, m.mode, true)
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    register_all();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
