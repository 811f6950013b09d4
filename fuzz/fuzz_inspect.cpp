// libFuzzer target: the inspection in each of the three targets on arbitrary
// bytes, whole and in pieces whose sizes the first byte picks, checked
// against the independent model of the tests: the same units in the same
// order with the same lines and columns, and the output size of the model's
// conversion; and counted without findings (the vector blocks) the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/kernel_sets.hpp"
#include "support/model.hpp"
#include "textmend/textmend.hpp"

namespace {

void collect(const textmend::Finding& finding, void* context) {
    static_cast<std::vector<textmend::Finding>*>(context)->push_back(finding);
}

bool same_units(const std::vector<textmend::Finding>& found,
                const std::vector<textmend::test::ModelUnit>& units) {
    if (found.size() != units.size()) return false;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const textmend::Finding& f = found[i];
        const textmend::test::ModelUnit& u = units[i];
        if (f.offset != u.offset || f.length != u.length || f.line != u.line ||
            f.column != u.column || (f.kind == textmend::FindingKind::kept) != u.kept) {
            return false;
        }
    }
    return true;
}

}  // namespace

namespace {

// One input with the active kernels; aborts on a difference.
int check(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = 1 + data[0] % 16;
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    for (const textmend::Target target :
         {textmend::Target::latin1, textmend::Target::windows1252, textmend::Target::utf8}) {
        const textmend::OutputMode mode = target;
        const std::vector<textmend::test::ModelUnit> units =
            textmend::test::model_units(input, mode);
        std::vector<textmend::Finding> whole, pieces;
        const textmend::Inspection all = textmend::inspect(input, target, &whole, units.size());
        textmend::StreamInspector inspector(target, units.size(), collect, &pieces);
        for (std::size_t at = 0; at < input.size(); at += piece)
            inspector.feed(input.data() + at, std::min(piece, input.size() - at));
        const textmend::Inspection fed = inspector.finish();
        // Without findings to report, whole blocks are counted at once.
        const textmend::Inspection counted = textmend::inspect(input.data(), input.size(), target);
        const std::size_t out_size = textmend::test::model_convert(input, mode).size();
        if (!same_units(whole, units) || !same_units(pieces, units) || all.bytes_out != out_size ||
            fed.bytes_out != out_size || all.changed + all.kept != units.size() ||
            fed.changed != all.changed || fed.kept != all.kept || counted.changed != all.changed ||
            counted.kept != all.kept || counted.bytes_out != out_size ||
            textmend::converted_size(input, target) != out_size) {
            std::abort();
        }
    }
    return 0;
}

}  // namespace

// Every input with each kernel set the processor supports.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    textmend::test::with_each_kernel_set([&] { check(data, size); });
    return 0;
}
