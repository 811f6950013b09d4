// The first findings of a file, each with a few bytes of the text around it
// (within its line), collected while the file streams past in blocks: the
// inspection hands over a finding while the block holding it is at hand,
// and the bytes after it that the block lacks are taken from the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "textmend/textmend.hpp"

namespace textmend::report {

// Bytes of context on each side of a finding, at most.
inline constexpr std::size_t EXCERPT_SIDE = 24;

struct Example {
    Finding finding;
    std::uint8_t before[EXCERPT_SIDE] = {};  // the bytes just before the finding
    std::size_t before_length = 0;
    std::uint8_t after[EXCERPT_SIDE] = {};  // the bytes just after it
    std::size_t after_length = 0;
    bool after_complete = false;  // the line or the input ended, or the side is full
};

class ExampleCollector {
public:
    explicit ExampleCollector(std::uint64_t max_examples) : max_(max_examples) {}

    // Around feeding the block of size bytes that starts at offset.
    void begin_block(const std::uint8_t* data, std::size_t size, std::uint64_t offset);
    void end_block();

    // The input has ended: no more bytes come after the last findings.
    void end_input();

    // The handler to give the inspector, with the collector as its context.
    static void take(const Finding& finding, void* collector);

    [[nodiscard]] const std::vector<Example>& examples() const { return examples_; }

private:
    [[nodiscard]] int byte_at(std::uint64_t offset) const;  // -1 when not at hand
    void take_before(Example& example) const;
    void take_after(Example& example) const;

    std::uint64_t max_;
    std::vector<Example> examples_;
    std::size_t incomplete_ = 0;  // examples before this one have their bytes after them
    const std::uint8_t* block_ = nullptr;
    std::size_t block_size_ = 0;
    std::uint64_t block_offset_ = 0;
    // The end of the blocks before: a finding may start in bytes the
    // inspection held back from the last block.
    static constexpr std::size_t HISTORY = 2 * EXCERPT_SIDE + FINDING_BYTES_MAX;
    std::uint8_t history_[HISTORY] = {};
    std::size_t history_length_ = 0;
    std::uint64_t history_end_ = 0;  // offset just after the last byte in history_
};

}  // namespace textmend::report
