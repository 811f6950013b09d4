// The first findings of a file, each with a few bytes of the text around it
// (within its line), collected while the file streams past in blocks: the
// inspection hands over a finding while the block holding it is at hand,
// and the bytes after it that the block lacks are taken from the next.
//
// However many are asked for, memory stays bounded: once more than a batch
// of examples is held, the finished ones go to a temporary file (the spool)
// and are read back, in order, when the report is written. A report gives
// the counts before the places, so all of them must wait for the file's end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "textmend/textmend.hpp"

namespace textmend::report {

// Bytes of context on each side of a finding, at most.
inline constexpr std::size_t EXCERPT_SIDE = 24;

// Examples held in memory before the finished ones are spooled: about 8 MiB.
inline constexpr std::size_t SPOOL_AFTER = 32 * 1024;

struct Example {
    Finding finding;
    std::uint8_t before[EXCERPT_SIDE] = {};  // the bytes just before the finding
    std::size_t before_length = 0;
    std::uint8_t after[EXCERPT_SIDE] = {};  // the bytes just after it
    std::size_t after_length = 0;
    bool after_complete = false;  // the line or the input ended, or the side is full
    // A run of text encoded twice: its bytes (finding.bytes holds the
    // character it becomes, finding.length its length).
    std::uint8_t run[DOUBLE_RUN_BYTES_MAX] = {};
};

class ExampleCollector {
public:
    explicit ExampleCollector(std::uint64_t max_examples, std::size_t spool_after = SPOOL_AFTER)
        : max_(max_examples), spool_after_(spool_after < 1 ? 1 : spool_after) {}
    ~ExampleCollector();
    ExampleCollector(const ExampleCollector&) = delete;
    ExampleCollector& operator=(const ExampleCollector&) = delete;

    // Around feeding the block of size bytes that starts at offset.
    void begin_block(const std::uint8_t* data, std::size_t size, std::uint64_t offset);
    void end_block();

    // The input has ended: no more bytes come after the last findings.
    void end_input();

    // The handler to give the inspector, with the collector as its context.
    static void take(const Finding& finding, void* collector);

    // Adds, after this collector's examples and up to its limit, those that
    // `later` collected on the part of the input that starts where this one's
    // ended, at `start` (its offsets are already the input's; its lines and
    // columns were counted from the start of its part). False when later's
    // spooled examples could not be read back.
    [[nodiscard]] bool append(ExampleCollector& later, const InputPlace& start);

    // How many examples were taken, and the first finding (nullptr for none).
    [[nodiscard]] std::uint64_t count() const { return count_; }
    [[nodiscard]] const Finding* first() const { return count_ > 0 ? &first_ : nullptr; }

    // Calls visit(example) for the first n examples in input order, reading
    // back the spooled ones. False when the spool could not be read.
    template <class Visit>
    [[nodiscard]] bool for_each(std::uint64_t n, Visit&& visit);

    // The errno of a failure to spool (the examples are then incomplete), or 0.
    [[nodiscard]] int error() const { return error_; }

private:
    void add(const Example& example);
    [[nodiscard]] int byte_at(std::uint64_t offset) const;  // -1 when not at hand
    void take_before(Example& example) const;
    void take_after(Example& example) const;
    void take_run(Example& example) const;
    void spool_finished();
    [[nodiscard]] bool rewind_spool();
    [[nodiscard]] std::size_t read_spooled(Example* into, std::size_t n);

    std::uint64_t max_;
    std::size_t spool_after_;
    std::uint64_t count_ = 0;
    Finding first_{};
    std::vector<Example> examples_;  // those not spooled, in order
    std::size_t incomplete_ = 0;     // examples_ before this one have their bytes after them
    std::FILE* spool_ = nullptr;
    std::uint64_t spooled_ = 0;
    int error_ = 0;
    const std::uint8_t* block_ = nullptr;
    std::size_t block_size_ = 0;
    std::uint64_t block_offset_ = 0;
    // The end of the blocks before: a finding may start in bytes the
    // inspection held back from the last block (a run, up to
    // DOUBLE_RUN_BYTES_MAX - 1 of them).
    static constexpr std::size_t HISTORY = 2 * EXCERPT_SIDE + DOUBLE_RUN_BYTES_MAX;
    std::uint8_t history_[HISTORY] = {};
    std::size_t history_length_ = 0;
    std::uint64_t history_end_ = 0;  // offset just after the last byte in history_
};

template <class Visit>
bool ExampleCollector::for_each(std::uint64_t n, Visit&& visit) {
    std::uint64_t done = 0;
    if (spooled_ > 0) {
        if (!rewind_spool()) return false;
        Example batch[64];
        while (done < n && done < spooled_) {
            const std::size_t got = read_spooled(batch, 64);
            if (got == 0) return false;
            for (std::size_t i = 0; i < got && done < n; ++i, ++done)
                visit(batch[i]);
        }
    }
    for (std::size_t i = 0; i < examples_.size() && done < n; ++i, ++done)
        visit(examples_[i]);
    return true;
}

}  // namespace textmend::report
