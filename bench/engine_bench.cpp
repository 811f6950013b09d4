// Micro-benchmarks of the engine in memory: bytes per second per mode and
// corpus kind, without the file system's noise.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "convert/byte_loop.hpp"
#include "corpus.hpp"
#include "support/memory_io.hpp"
#include "textmend/textmend.hpp"

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

// The library's calls on a buffer in memory: convert() into a buffer of
// max_converted_size(), and inspect() keeping the first ten findings, as
// textmend-report does by default.
void library_convert(benchmark::State& state, CorpusKind kind, textmend::Target target) {
    const std::string& input = corpus(kind);
    std::vector<std::uint8_t> out(textmend::max_converted_size(input.size(), target));
    for (auto _ : state) {
        benchmark::DoNotOptimize(textmend::convert(input.data(), input.size(), out.data(), target));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

// The same into a buffer of exactly converted_size() bytes, which is all
// a whole conversion writes.
void library_convert_exact(benchmark::State& state, CorpusKind kind, textmend::Target target) {
    const std::string& input = corpus(kind);
    std::vector<std::uint8_t> out(textmend::converted_size(input.data(), input.size(), target));
    for (auto _ : state) {
        benchmark::DoNotOptimize(textmend::convert(input.data(), input.size(), out.data(), target));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

// converted_size(): the exact size alone, which textmend.dask takes of every
// block before it converts the blocks into their places.
void library_converted_size(benchmark::State& state, CorpusKind kind, textmend::Target target) {
    const std::string& input = corpus(kind);
    for (auto _ : state) {
        benchmark::DoNotOptimize(textmend::converted_size(input.data(), input.size(), target));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

// convert() with the option that undoes text encoded twice.
void library_convert_undoing(benchmark::State& state, CorpusKind kind, textmend::Target target) {
    const std::string& input = corpus(kind);
    std::vector<std::uint8_t> out(textmend::max_converted_size(input.size(), target));
    const textmend::ConversionOptions undo{.undo_double_encoding = true};
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            textmend::convert(input.data(), input.size(), out.data(), out.size(), target, undo));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

void library_inspect(benchmark::State& state, CorpusKind kind, textmend::Target target) {
    const std::string& input = corpus(kind);
    textmend::Finding findings[10];
    for (auto _ : state) {
        std::size_t stored = 0;
        benchmark::DoNotOptimize(
            textmend::inspect(input.data(), input.size(), target, findings, 10, &stored));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

// What textmend-report runs: inspect() that also finds text encoded twice.
void report_inspect(benchmark::State& state, CorpusKind kind, textmend::Target target) {
    const std::string& input = corpus(kind);
    std::size_t stored = 0;
    const auto keep = [](const textmend::Finding&, void* context) {
        ++*static_cast<std::size_t*>(context);
    };
    for (auto _ : state) {
        stored = 0;
        textmend::ReportInspector inspector(target, 10, keep, &stored);
        inspector.feed(input.data(), input.size());
        benchmark::DoNotOptimize(inspector.finish());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

void register_library() {
    const struct {
        const char* name;
        textmend::Target target;
    } targets[] = {{"latin1", textmend::Target::latin1},
                   {"cp1252", textmend::Target::windows1252},
                   {"utf8", textmend::Target::utf8}};
    for (CorpusKind kind : textmend::bench::ALL_CORPORA) {
        for (const auto& t : targets) {
            const std::string suffix =
                std::string(t.name) + "/" + textmend::bench::corpus_name(kind);
            benchmark::RegisterBenchmark(("convert()/" + suffix).c_str(), library_convert, kind,
                                         t.target)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("convert() exact/" + suffix).c_str(),
                                         library_convert_exact, kind, t.target)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("converted_size()/" + suffix).c_str(),
                                         library_converted_size, kind, t.target)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("convert() undoing/" + suffix).c_str(),
                                         library_convert_undoing, kind, t.target)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("report inspector/" + suffix).c_str(), report_inspect,
                                         kind, t.target)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("inspect()/" + suffix).c_str(), library_inspect, kind,
                                         t.target)
                ->Unit(benchmark::kMillisecond);
        }
    }
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
    register_library();
    // Printed with the machine's description before the results.
    benchmark::AddCustomContext("kernels", textmend::kernel_choice().active);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
