#include "report/examples.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "report/files.hpp"

namespace textmend::report {

namespace {

bool ends_line(int byte) {
    return byte == '\n' || byte == '\r';
}

bool is_continuation(std::uint8_t byte) {
    return (byte & 0xC0) == 0x80;
}

// Where a side cut to EXCERPT_SIDE bytes begins: after the continuation
// bytes of a character whose start was cut off.
std::size_t first_whole_character(const std::uint8_t* bytes, std::size_t n) {
    std::size_t skip = 0;
    while (skip < 3 && skip < n && is_continuation(bytes[skip]))
        ++skip;
    return skip;
}

// Where a side cut to EXCERPT_SIDE bytes ends: before a lead byte whose
// continuation bytes were cut off.
std::size_t after_last_whole_character(const std::uint8_t* bytes, std::size_t n) {
    for (std::size_t back = 1; back <= 3 && back <= n; ++back) {
        const std::uint8_t byte = bytes[n - back];
        if (is_continuation(byte)) continue;
        const std::size_t wanted = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return wanted > back ? n - back : n;
    }
    return n;
}

}  // namespace

ExampleCollector::~ExampleCollector() {
    if (spool_ != nullptr) std::fclose(spool_);
}

void ExampleCollector::begin_block(const std::uint8_t* data, std::size_t size,
                                   std::uint64_t offset) {
    block_ = data;
    block_size_ = size;
    block_offset_ = offset;
    for (; incomplete_ < examples_.size(); ++incomplete_) {
        take_after(examples_[incomplete_]);
        if (!examples_[incomplete_].after_complete) break;
    }
}

void ExampleCollector::end_block() {
    // Keep the block's last bytes, after what is kept already.
    const std::size_t keep = block_size_ < HISTORY ? block_size_ : HISTORY;
    const std::size_t old = history_length_ + keep > HISTORY ? HISTORY - keep : history_length_;
    std::memmove(history_, history_ + history_length_ - old, old);
    std::memcpy(history_ + old, block_ + block_size_ - keep, keep);
    history_length_ = old + keep;
    history_end_ = block_offset_ + block_size_;
    block_ = nullptr;
    block_size_ = 0;
}

void ExampleCollector::end_input() {
    for (Example& example : examples_)
        example.after_complete = true;
    incomplete_ = examples_.size();
}

void ExampleCollector::take(const Finding& finding, void* collector) {
    ExampleCollector& self = *static_cast<ExampleCollector*>(collector);
    if (self.count_ >= self.max_) return;
    Example example;
    example.finding = finding;
    if (finding.kind == FindingKind::double_encoded) self.take_run(example);
    self.take_before(example);
    self.take_after(example);
    self.add(example);
}

bool ExampleCollector::append(ExampleCollector& later, const InputPlace& start) {
    if (later.error_ != 0) {
        error_ = later.error_;
        return false;
    }
    const bool read = later.for_each(max_ - count_, [&](const Example& example) {
        Example moved = example;
        Finding& f = moved.finding;
        // A place on the part's first line continues the line it started in.
        if (f.line == 1) f.column += start.column - 1;
        f.line += start.line - 1;
        add(moved);
    });
    if (!read) error_ = later.error_;
    return read;
}

void ExampleCollector::add(const Example& example) {
    examples_.push_back(example);
    if (count_++ == 0) first_ = example.finding;
    if (incomplete_ + 1 == examples_.size() && example.after_complete) ++incomplete_;
    if (examples_.size() >= spool_after_) spool_finished();
}

// Moves the examples that have all their bytes to the spool.
void ExampleCollector::spool_finished() {
    if (incomplete_ == 0 || error_ != 0) return;
    if (spool_ == nullptr) spool_ = open_spool();
    if (spool_ == nullptr) {
        error_ = errno != 0 ? errno : EIO;
        return;
    }
    if (std::fwrite(examples_.data(), sizeof(Example), incomplete_, spool_) != incomplete_) {
        error_ = errno != 0 ? errno : EIO;
        return;
    }
    spooled_ += incomplete_;
    examples_.erase(examples_.begin(),
                    examples_.begin() + static_cast<std::ptrdiff_t>(incomplete_));
    incomplete_ = 0;
}

bool ExampleCollector::rewind_spool() {
    if (std::fflush(spool_) != 0 || std::fseek(spool_, 0, SEEK_SET) != 0) {
        error_ = errno != 0 ? errno : EIO;
        return false;
    }
    return true;
}

std::size_t ExampleCollector::read_spooled(Example* into, std::size_t n) {
    const std::size_t got = std::fread(into, sizeof(Example), n, spool_);
    if (got == 0) error_ = std::ferror(spool_) && errno != 0 ? errno : EIO;
    return got;
}

int ExampleCollector::byte_at(std::uint64_t offset) const {
    if (block_ != nullptr && offset >= block_offset_ && offset - block_offset_ < block_size_) {
        return block_[offset - block_offset_];
    }
    if (offset < history_end_ && history_end_ - offset <= history_length_) {
        return history_[history_length_ - (history_end_ - offset)];
    }
    return -1;
}

void ExampleCollector::take_before(Example& example) const {
    std::size_t n = 0;
    const std::uint64_t start = example.finding.offset;
    while (n < EXCERPT_SIDE && n < start) {
        const int byte = byte_at(start - n - 1);
        if (byte < 0 || ends_line(byte)) break;
        ++n;
    }
    for (std::size_t i = 0; i < n; ++i)
        example.before[i] = static_cast<std::uint8_t>(byte_at(start - n + i));
    const std::size_t skip = n == EXCERPT_SIDE ? first_whole_character(example.before, n) : 0;
    std::memmove(example.before, example.before + skip, n - skip);
    example.before_length = n - skip;
}

// A run's bytes are at hand when it is found: in the block, or held back
// from the blocks before.
void ExampleCollector::take_run(Example& example) const {
    for (std::size_t i = 0; i < example.finding.length; ++i) {
        const int byte = byte_at(example.finding.offset + i);
        example.run[i] = static_cast<std::uint8_t>(byte < 0 ? 0 : byte);
    }
}

void ExampleCollector::take_after(Example& example) const {
    const std::uint64_t start = example.finding.offset + example.finding.length;
    while (!example.after_complete) {
        if (example.after_length == EXCERPT_SIDE) {
            example.after_length = after_last_whole_character(example.after, EXCERPT_SIDE);
            example.after_complete = true;
            break;
        }
        const int byte = byte_at(start + example.after_length);
        if (byte < 0) break;  // the next block has it
        if (ends_line(byte)) {
            example.after_complete = true;
            break;
        }
        example.after[example.after_length++] = static_cast<std::uint8_t>(byte);
    }
}

}  // namespace textmend::report
