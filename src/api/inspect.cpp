// The library's inspection: StreamInspector and inspect(), on top of the
// engine's unit walk (convert/inspect.hpp).
#include <cassert>
#include <cstring>

#include "convert/inspect.hpp"
#include "textmend/textmend.hpp"

namespace textmend {

static_assert(UNIT_BYTES_MAX == static_cast<std::int32_t>(FINDING_BYTES_MAX));

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
    finding.kind = unit.kept ? FindingKind::kept : FindingKind::changed;
    finding.length = static_cast<std::uint8_t>(unit.length);
    std::memcpy(finding.bytes, unit.bytes, static_cast<std::size_t>(unit.length));
    bridge.handler(finding, bridge.context);
}

}  // namespace

// Moves an inspector's state into the engine's and back.
struct InspectorAccess {
    static InspectState load(const StreamInspector& s, Bridge& bridge) {
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
        return state;
    }

    static void store(StreamInspector& s, const InspectState& state) {
        s.offset_ = state.offset;
        s.growth_ = state.growth;
        s.changed_ = state.changed;
        s.kept_ = state.kept;
        s.findings_left_ = state.units_to_report;
        s.line_ = state.line;
        s.line_start_ = state.line_start;
    }
};

StreamInspector::StreamInspector(Target target, std::uint64_t max_findings, FindingHandler handler,
                                 void* context) noexcept
    : target_(target), max_findings_(max_findings), handler_(handler), context_(context) {
    restart();
}

void StreamInspector::restart() noexcept {
    offset_ = 0;
    growth_ = 0;
    changed_ = 0;
    kept_ = 0;
    findings_left_ = max_findings_;
    line_ = 1;
    line_start_ = 0;
    held_count_ = 0;
}

void StreamInspector::feed(const void* piece, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(piece);
    const std::uint8_t* end = p + size;
    Bridge bridge{handler_, context_};
    InspectState state = InspectorAccess::load(*this, bridge);
    assert(held_count_ < FINDING_BYTES_MAX);
    if (held_count_ > 0) {
        // The seam: the held bytes and the start of the piece, inspected
        // together until the walk has moved into the piece itself.
        std::uint8_t seam[2 * FINDING_BYTES_MAX];
        const std::size_t held = held_count_;
        const std::size_t taken = size < FINDING_BYTES_MAX ? size : FINDING_BYTES_MAX;
        std::memcpy(seam, held_, held);
        if (taken > 0) std::memcpy(seam + held, p, taken);  // p may be null then
        const std::uint8_t* stop = inspect_bytes(state, seam, seam + held + taken, false);
        const auto used = static_cast<std::size_t>(stop - seam);
        if (used < held) {
            // The piece was too short to get past the held bytes: all of it
            // is in the seam, and what is left of the seam is held.
            held_count_ = held + taken - used;
            std::memmove(held_, seam + used, held_count_);
            InspectorAccess::store(*this, state);
            return;
        }
        p += used - held;
        held_count_ = 0;
    }
    const std::uint8_t* stop = inspect_bytes(state, p, end, false);
    held_count_ = static_cast<std::size_t>(end - stop);
    if (held_count_ > 0) std::memcpy(held_, stop, held_count_);
    InspectorAccess::store(*this, state);
}

Inspection StreamInspector::finish() {
    Bridge bridge{handler_, context_};
    InspectState state = InspectorAccess::load(*this, bridge);
    inspect_bytes(state, held_, held_ + held_count_, true);
    Inspection result;
    result.target = target_;
    result.bytes_in = state.offset;
    result.bytes_out =
        static_cast<std::uint64_t>(static_cast<std::int64_t>(state.offset) + state.growth);
    result.changed = state.changed;
    result.kept = state.kept;
    restart();
    return result;
}

InputPlace StreamInspector::position() const noexcept {
    InputPlace place;
    // Held bytes are high bytes, never 0A: they do not move the line.
    place.offset = offset_ + held_count_;
    if (findings_left_ > 0) {
        place.line = line_;
        place.column = place.offset - line_start_ + 1;
    }
    return place;
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
