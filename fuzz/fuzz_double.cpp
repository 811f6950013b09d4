// libFuzzer target: text encoded twice, on arbitrary bytes in each target.
// The report's inspection, whole and in pieces whose sizes the first byte
// picks, against the model of the tests (runs, units outside them, counts);
// and the conversion that undoes runs: the exact size it tells, each line
// converted on its own giving the whole, the streams (undoing before
// converting) giving the whole from pieces of the same sizes, and the plain
// conversion wherever no run may start.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "convert/byte_loop.hpp"
#include "convert/undo_double_stream.hpp"
#include "support/convert_memory.hpp"
#include "support/double_model.hpp"
#include "support/kernel_sets.hpp"
#include "support/memory_io.hpp"
#include "support/model.hpp"
#include "textmend/textmend.hpp"

namespace {

void collect(const textmend::Finding& finding, void* context) {
    static_cast<std::vector<textmend::Finding>*>(context)->push_back(finding);
}

bool same_findings(const std::vector<textmend::Finding>& found,
                   const std::vector<textmend::Finding>& model) {
    if (found.size() != model.size()) return false;
    for (std::size_t i = 0; i < model.size(); ++i) {
        if (textmend::test::describe(found[i]) != textmend::test::describe(model[i])) return false;
    }
    return true;
}

void check_report(const std::string& input, std::size_t piece, textmend::Target target) {
    const textmend::test::ModelReport model = textmend::test::model_report(input, target);
    std::vector<textmend::Finding> found;
    textmend::ReportInspector inspector(target, model.findings.size(), collect, &found);
    for (std::size_t at = 0; at < input.size(); at += piece)
        inspector.feed(input.data() + at, std::min(piece, input.size() - at));
    const textmend::ReportCounts counts = inspector.finish();
    textmend::ReportInspector counter(target);
    counter.feed(input);
    const textmend::ReportCounts counted = counter.finish();
    if (!same_findings(found, model.findings) || counts.double_runs != model.runs ||
        counts.changed_in_runs != model.changed_in_runs ||
        counts.kept_in_runs != model.kept_in_runs || counts.units.changed != model.changed ||
        counts.units.kept != model.kept || counted.double_runs != model.runs ||
        counted.changed_in_runs != model.changed_in_runs ||
        counted.units.bytes_out != counts.units.bytes_out ||
        counts.units.bytes_out != textmend::test::model_convert(input, target).size()) {
        std::abort();
    }
}

std::string undone(const std::string& input, textmend::Target target) {
    const textmend::ConversionOptions undo{.undo_double_encoding = true};
    const textmend::CheckedConversion needed =
        textmend::convert(input.data(), input.size(), nullptr, 0, target, undo);
    std::string out(needed.size, '\0');
    const textmend::CheckedConversion done =
        textmend::convert(input.data(), input.size(), out.data(), out.size(), target, undo);
    if (!done.fits || done.size != needed.size) std::abort();
    return out;
}

// Converts input through an undoing source that reads it piece bytes at a
// time, into an output buffer of piece bytes.
std::string undone_in_stream(const std::string& input, textmend::Target target, std::size_t piece) {
    using namespace textmend;
    MemorySource memory{reinterpret_cast<const std::uint8_t*>(input.data()), input.size(), 0,
                        piece};
    // Allocated once: filling this much memory for every input would slow
    // the fuzzer down several times.
    static std::vector<std::uint8_t> undo_storage(UNDO_STORAGE_SIZE);
    static std::vector<std::uint8_t> in_storage(input_storage_size(INPUT_BLOCK_SIZE));
    std::vector<std::uint8_t> out_storage(piece);
    UndoingSource undoing{};
    std::string result;
    InputStream in{};
    OutputStream out{};
    input_init(in, undoing_source(undoing, memory_source(&memory), undo_storage.data()),
               in_storage.data(), INPUT_BLOCK_SIZE);
    output_init(out, ByteSink{test::string_write, &result}, out_storage.data(), piece);
    convert_stream(in, out, target);
    output_flush(out);
    return result;
}

void check_undo(const std::string& input, std::size_t piece, textmend::Target target) {
    const std::string whole = undone(input, target);
    if (undone_in_stream(input, target, piece) != whole) std::abort();
    std::string lines;
    for (std::size_t at = 0; at < input.size();) {
        const std::size_t newline = input.find('\n', at);
        const std::size_t end = newline == std::string::npos ? input.size() : newline + 1;
        lines += undone(input.substr(at, end - at), target);
        at = end;
    }
    if (lines != whole) std::abort();
    // Without the bytes a run starts with, undoing changes nothing.
    if (input.find('\xC3') == std::string::npos &&
        whole != textmend::test::model_convert(input, target)) {
        std::abort();
    }
}

int check(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = 1 + data[0] % 64;
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    for (const textmend::Target target :
         {textmend::Target::latin1, textmend::Target::windows1252, textmend::Target::utf8}) {
        check_report(input, piece, target);
        check_undo(input, piece, target);
    }
    return 0;
}

}  // namespace

// Every input with each kernel set the processor supports.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    textmend::test::with_each_kernel_set([&] { check(data, size); });
    return 0;
}
