// The page memory the writer thread's buffers live in.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "cli/writer/page_memory.hpp"

namespace textmend {
namespace {

constexpr std::size_t MIB = 1024 * 1024;

bool all_zero(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (p[i] != 0) return false;
    }
    return true;
}

TEST(PageMemory, GivesZeroedWritableMemoryOfEverySize) {
    // Around a page, around a huge page, and the writer's own size (its
    // buffers and stretch slots: just over 2 MiB).
    for (const std::size_t size : {std::size_t{1}, std::size_t{4095}, std::size_t{4097},
                                   2 * MIB - 1, 2 * MIB, 2 * MIB + 224, 3 * MIB + 5}) {
        PageMemory memory;
        ASSERT_TRUE(memory.allocate(size)) << size;
        ASSERT_NE(memory.data(), nullptr);
        EXPECT_GE(memory.size(), size);
        EXPECT_TRUE(all_zero(memory.data(), memory.size())) << size;
        // Every byte can be written and keeps its value, the last one too.
        for (std::size_t i = 0; i < memory.size(); ++i)
            memory.data()[i] = static_cast<std::uint8_t>(i * 7 + 1);
        for (std::size_t i = 0; i < memory.size(); i += 4093)
            ASSERT_EQ(memory.data()[i], static_cast<std::uint8_t>(i * 7 + 1)) << size << " " << i;
        EXPECT_EQ(memory.data()[memory.size() - 1],
                  static_cast<std::uint8_t>((memory.size() - 1) * 7 + 1));
#ifdef __linux__
        // Where a huge page can serve it, the memory starts on its boundary.
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(memory.data()) % (2 * MIB), 0U) << size;
#endif
    }
}

TEST(PageMemory, AllocatingAgainReplacesAndReleaseEmpties) {
    PageMemory memory;
    ASSERT_TRUE(memory.allocate(3 * MIB));
    std::memset(memory.data(), 0xAB, memory.size());
    ASSERT_TRUE(memory.allocate(MIB));
    EXPECT_GE(memory.size(), MIB);
    EXPECT_LT(memory.size(), 3 * MIB);
    EXPECT_TRUE(all_zero(memory.data(), memory.size()));
    memory.release();
    EXPECT_EQ(memory.data(), nullptr);
    EXPECT_EQ(memory.size(), 0U);
    memory.release();  // twice is harmless
    EXPECT_EQ(memory.data(), nullptr);
}

}  // namespace
}  // namespace textmend
