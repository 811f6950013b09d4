// The library's inspection: StreamInspector and inspect(), on top of the
// engine's unit walk (convert/inspect.hpp).
#include <cassert>
#include <cstring>
#include <type_traits>

#include "convert/inspect.hpp"
#include "convert/seam.hpp"
#include "encoding/utf8.hpp"
#include "textmend/textmend.hpp"

namespace textmend {

static_assert(UNIT_BYTES_MAX == static_cast<std::int32_t>(FINDING_BYTES_MAX));

static_assert(RUN_BYTES_MAX == static_cast<std::int32_t>(DOUBLE_RUN_BYTES_MAX));

namespace {

// Hands the engine's units to the caller's handler as findings.
struct Bridge {
    FindingHandler handler;
    void* context;
};

void hand_over(const Unit& unit, void* context) {
    const Bridge& bridge = *static_cast<const Bridge*>(context);
    Finding finding;
    finding.offset = unit.offset;
    finding.line = unit.line;
    finding.column = unit.column;
    finding.length = static_cast<std::uint8_t>(unit.length);
    switch (unit.kind) {
        case UnitKind::changed:
        case UnitKind::kept:
            finding.kind = unit.kind == UnitKind::kept ? FindingKind::kept : FindingKind::changed;
            std::memcpy(finding.bytes, unit.bytes, static_cast<std::size_t>(unit.length));
            break;
        case UnitKind::double_run: {
            finding.kind = FindingKind::double_encoded;
            const EncodeBuffer becomes = utf8_encode(unit.becomes);
            std::memcpy(finding.bytes, becomes.data(),
                        static_cast<std::size_t>(encoded_length(becomes)));
            break;
        }
    }
    bridge.handler(finding, bridge.context);
}

}  // namespace

// Moves an inspector's state into the engine's and back, and the walks
// both inspectors share: they differ in what they look for and in how many
// bytes they may hold.
struct InspectorAccess {
    template <class Inspector>
    static InspectState load(const Inspector& s, Bridge& bridge) {
        InspectState state{s.target_};
        state.offset = s.offset_;
        state.growth = s.growth_;
        state.changed = s.changed_;
        state.kept = s.kept_;
        state.units_to_report = s.findings_left_;
        state.handler = s.handler_ != nullptr ? hand_over : nullptr;
        state.context = &bridge;
        state.line = s.line_;
        state.line_start = s.line_start_;
        if constexpr (std::is_same_v<Inspector, ReportInspector>) {
            state.find_double = true;
            state.double_runs = s.double_runs_;
            state.changed_in_runs = s.changed_in_runs_;
            state.kept_in_runs = s.kept_in_runs_;
        }
        return state;
    }

    template <class Inspector>
    static void store(Inspector& s, const InspectState& state) {
        s.offset_ = state.offset;
        s.growth_ = state.growth;
        s.changed_ = state.changed;
        s.kept_ = state.kept;
        s.findings_left_ = state.units_to_report;
        s.line_ = state.line;
        s.line_start_ = state.line_start;
        if constexpr (std::is_same_v<Inspector, ReportInspector>) {
            s.double_runs_ = state.double_runs;
            s.changed_in_runs_ = state.changed_in_runs;
            s.kept_in_runs_ = state.kept_in_runs;
        }
    }

    template <class Inspector>
    static void restart(Inspector& s) {
        s.offset_ = 0;
        s.growth_ = 0;
        s.changed_ = 0;
        s.kept_ = 0;
        s.findings_left_ = s.max_findings_;
        s.line_ = 1;
        s.line_start_ = 0;
        s.held_count_ = 0;
        if constexpr (std::is_same_v<Inspector, ReportInspector>) {
            s.double_runs_ = 0;
            s.changed_in_runs_ = 0;
            s.kept_in_runs_ = 0;
        }
    }

    template <class Inspector>
    static void feed(Inspector& s, const void* piece, std::size_t size) {
        constexpr std::size_t HELD_MAX = sizeof s.held_;
        const auto* p = static_cast<const std::uint8_t*>(piece);
        const std::uint8_t* end = p + size;
        Bridge bridge{s.handler_, s.context_};
        InspectState state = load(s, bridge);
        assert(s.held_count_ < HELD_MAX);
        const auto inspect_walk = [&state](const std::uint8_t* from, const std::uint8_t* last) {
            return inspect_bytes(state, from, last, false);
        };
        // What is left of a seam the walk did not get past is held as it is.
        const auto hold_all = [](const std::uint8_t* from, const std::uint8_t*) { return from; };
        if (walk_seam<HELD_MAX>(s.held_, s.held_count_, p, size, inspect_walk, hold_all))
            hold_bytes(s.held_, s.held_count_, inspect_walk(p, end), end);
        store(s, state);
    }

    // Inspects what is held, as the end of the input; returns the final state.
    template <class Inspector>
    static InspectState finish(Inspector& s) {
        Bridge bridge{s.handler_, s.context_};
        InspectState state = load(s, bridge);
        inspect_bytes(state, s.held_, s.held_ + s.held_count_, true);
        return state;
    }

    template <class Inspector>
    static InputPlace position(const Inspector& s) {
        InputPlace place;
        // Held bytes are high bytes, never 0A: they do not move the line.
        place.offset = s.offset_ + s.held_count_;
        if (s.findings_left_ > 0) {
            place.line = s.line_;
            place.column = place.offset - s.line_start_ + 1;
        }
        return place;
    }
};

namespace {

Inspection counts_of(const InspectState& state, Target target) {
    Inspection result;
    result.target = target;
    result.bytes_in = state.offset;
    result.bytes_out =
        static_cast<std::uint64_t>(static_cast<std::int64_t>(state.offset) + state.growth);
    result.changed = state.changed;
    result.kept = state.kept;
    return result;
}

}  // namespace

StreamInspector::StreamInspector(Target target, std::uint64_t max_findings, FindingHandler handler,
                                 void* context) noexcept
    : target_(target), max_findings_(max_findings), handler_(handler), context_(context) {
    restart();
}

void StreamInspector::restart() noexcept {
    InspectorAccess::restart(*this);
}

void StreamInspector::feed(const void* piece, std::size_t size) {
    InspectorAccess::feed(*this, piece, size);
}

Inspection StreamInspector::finish() {
    const Inspection result = counts_of(InspectorAccess::finish(*this), target_);
    restart();
    return result;
}

InputPlace StreamInspector::position() const noexcept {
    return InspectorAccess::position(*this);
}

ReportInspector::ReportInspector(Target target, std::uint64_t max_findings, FindingHandler handler,
                                 void* context) noexcept
    : target_(target), max_findings_(max_findings), handler_(handler), context_(context) {
    restart();
}

void ReportInspector::restart() noexcept {
    InspectorAccess::restart(*this);
}

void ReportInspector::feed(const void* piece, std::size_t size) {
    InspectorAccess::feed(*this, piece, size);
}

ReportCounts ReportInspector::finish() {
    const InspectState state = InspectorAccess::finish(*this);
    ReportCounts result;
    result.units = counts_of(state, target_);
    result.double_runs = state.double_runs;
    result.changed_in_runs = state.changed_in_runs;
    result.kept_in_runs = state.kept_in_runs;
    restart();
    return result;
}

InputPlace ReportInspector::position() const noexcept {
    return InspectorAccess::position(*this);
}

namespace {

struct FindingArray {
    Finding* findings;
    std::size_t stored;
};

void store_in_array(const Finding& finding, void* context) {
    FindingArray& array = *static_cast<FindingArray*>(context);
    array.findings[array.stored++] = finding;
}

void append_to_vector(const Finding& finding, void* context) {
    static_cast<std::vector<Finding>*>(context)->push_back(finding);
}

}  // namespace

Inspection inspect(const void* input, std::size_t size, Target target, Finding* findings,
                   std::size_t max_findings, std::size_t* findings_stored) noexcept {
    FindingArray array{findings, 0};
    StreamInspector inspector(target, findings != nullptr ? max_findings : 0, store_in_array,
                              &array);
    inspector.feed(input, size);
    const Inspection result = inspector.finish();
    if (findings_stored != nullptr) *findings_stored = array.stored;
    return result;
}

Inspection inspect(std::string_view input, Target target, std::vector<Finding>* findings,
                   std::size_t max_findings) {
    StreamInspector inspector(target, findings != nullptr ? max_findings : 0, append_to_vector,
                              findings);
    inspector.feed(input);
    return inspector.finish();
}

}  // namespace textmend
