#include <gtest/gtest.h>

#include "sim/sparse_memory.h"

namespace zq::sim {
namespace {

TEST(SparseMemoryTest, WritesReadsAndRunsAcrossPages) {
    SparseMemory memory;
    std::vector<std::uint8_t> data(5000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 3);
    memory.write(4000, data.data(), data.size());
    memory.write(20000, data.data(), 2);

    std::vector<std::uint8_t> back(5002);
    memory.read(3999, back.data(), back.size(), 0xEE);
    EXPECT_EQ(back.front(), 0xEE);
    EXPECT_EQ(back.back(), 0xEE);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin() + 1));

    EXPECT_EQ(memory.writtenRuns({0, 30000}), (std::vector<Span>{{4000, 5000}, {20000, 2}}));
    EXPECT_EQ(memory.writtenRuns({4500, 100}), (std::vector<Span>{{4500, 100}}));

    memory.forget({4096, 4096});
    EXPECT_EQ(memory.writtenRuns({0, 30000}),
              (std::vector<Span>{{4000, 96}, {8192, 808}, {20000, 2}}));
    memory.forgetAll();
    EXPECT_TRUE(memory.empty());
}

TEST(SparseMemoryTest, TopOfTheAddressSpaceAndLargeRangesCostNothing) {
    SparseMemory memory;
    const std::uint8_t top[2] = {0xAA, 0xBB};
    memory.write(0xFFFFFFFE, top, 2);
    EXPECT_EQ(memory.writtenRuns({0xFFF40000, 0xC0000}), (std::vector<Span>{{0xFFFFFFFE, 2}}));
    // A forget over 128 MiB walks the pages that exist, not the addresses.
    memory.forget({0, 0x08000000});
    EXPECT_FALSE(memory.empty());
}

TEST(SparseMemoryTest, SpanSetMergesAndSplits) {
    SpanSet set;
    set.add({100, 50});
    set.add({200, 50});
    set.add({150, 50});  // bridges the two
    EXPECT_EQ(set.intervals().size(), 1u);
    EXPECT_TRUE(set.containsAll({100, 150}));
    set.remove({120, 10});
    EXPECT_TRUE(set.contains(119));
    EXPECT_FALSE(set.contains(120));
    EXPECT_FALSE(set.contains(129));
    EXPECT_TRUE(set.contains(130));
    EXPECT_FALSE(set.containsAll({110, 30}));
    set.remove({0, 1000});
    EXPECT_TRUE(set.intervals().empty());
    set.add({0xFFF40000, 0xC0000});
    EXPECT_TRUE(set.contains(0xFFFFFFFF));
}

}  // namespace
}  // namespace zq::sim
