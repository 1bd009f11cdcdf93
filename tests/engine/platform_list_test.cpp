#include "engine/platform_list.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "common/recording_failure_handler.h"

namespace zq {
namespace {

using testing::ContractTest;
using testing::takeFailures;

struct Row {
    RangeKind kind;
    std::uint32_t start, size, eraseMs, writeMs;
};

std::vector<MemRange> mapOf(std::initializer_list<Row> rows) {
    std::vector<MemRange> out;
    for (const Row& r : rows) out.push_back({r.kind, r.start, r.size, r.eraseMs, r.writeMs});
    return out;
}

constexpr RangeKind R = RangeKind::Ram;
constexpr RangeKind F = RangeKind::Flash;
constexpr RangeKind A = RangeKind::Aux;

std::vector<MemRange> qb5() {
    return mapOf({{F, 0x00010000, 0x000F0000, 20000, 1000},
                  {F, 0x00100000, 0x00100000, 20000, 1000},
                  {R, 0x00400000, 0x00280000, 0, 1000},
                  {F, 0x00C02000, 0x0003E000, 20000, 1000},
                  {A, 0x00D00000, 0x00010000, 0, 1000},
                  {A, 0x00D40000, 0x00010000, 0, 1000},
                  {A, 0x00D50000, 0x00010000, 0, 1000},
                  {R, 0x00E00000, 0x00001800, 0, 1000}});
}

std::vector<MemRange> krmb() {
    return mapOf({{R, 0x00100000, 0x00080000, 0, 1000},
                  {F, 0x00A00000, 0x00100000, 20000, 1000},
                  {F, 0x00C02000, 0x0003E000, 20000, 1000},
                  {R, 0x00E00000, 0x00001800, 0, 1000}});
}

std::vector<MemRange> cm6x(std::uint32_t start, std::uint32_t size) {
    return mapOf({{R, 0x00000000, 0x08000000, 0, 1000},
                  {A, 0x80500000, 0x00010000, 0, 1000},
                  {A, 0x80540000, 0x00010000, 0, 1000},
                  {A, 0x80550000, 0x00010000, 0, 1000},
                  {F, start, size, 200000, 1000},
                  {F, 0xFFF40000, 0x000C0000, 10000, 1000}});
}

std::vector<MemRange> krmc() {
    return mapOf({{F, 0x00004000, 0x001FC000, 20000, 1000},
                  {R, 0x20000000, 0x00200000, 0, 1000},
                  {R, 0x40000000, 0x00010000, 0, 1000},
                  {A, 0x80500000, 0x00010000, 0, 1000},
                  {A, 0x80540000, 0x00010000, 0, 1000},
                  {A, 0x80550000, 0x00010000, 0, 1000}});
}

class PlatformListTest : public ContractTest {
protected:
    PlatformList list;
};

TEST_F(PlatformListTest, TableHoldsTheEightPlatformsInOrder) {
    struct Expected {
        PlId plId;
        const char* name;
        std::vector<MemRange> map;
    };
    const std::vector<Expected> expected = {
        {0x10000001, "XC167 @ QB5 + dualBridge (AMD)", qb5()},
        {0x10000002, "XC167 @ QB5 + dualBridge (Micron)", qb5()},
        {0x10000100, "XC167 @ KRMB (AMD)", krmb()},
        {0x10000200, "XC167 @ KRMB (Micron)", krmb()},
        {0x20000003, "MPC8270 @ CM61/CM62 (8MB FLASH)", cm6x(0xFF800000, 0x00700000)},
        {0x20000001, "MPC8270 @ CM61/CM62 (16MB FLASH)", cm6x(0xFF000000, 0x00F00000)},
        {0x20000002, "MPC8270 @ CM61/CM62 (32MB FLASH)", cm6x(0xFE000000, 0x01F00000)},
        {0x30000001, "MPC5554 @ KRMC", krmc()},
    };
    ASSERT_EQ(list.count(), 8u);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        const PlatformEntry& e = list.entry(i);
        EXPECT_EQ(e.plID, expected[i].plID);
        EXPECT_EQ(e.name, expected[i].name);
        EXPECT_EQ(e.ranges, expected[i].map);
        EXPECT_STREQ(list.nameOf(e.plID), expected[i].name);
    }
}

TEST_F(PlatformListTest, EveryMapIsSortedWithoutOverlaps) {
    for (const PlatformEntry& e : list.entries()) {
        SCOPED_TRACE(e.name);
        ASSERT_FALSE(e.ranges.empty());
        for (std::size_t i = 0; i < e.ranges.size(); ++i) {
            const MemRange& r = e.ranges[i];
            EXPECT_GT(r.size, 0u);
            // No range wraps past the top of the address space.
            EXPECT_LE(std::uint64_t{r.start} + r.size, 0x100000000ull);
            EXPECT_EQ(r.eraseTimeoutMs == 0, r.kind != RangeKind::Flash);
            if (i > 0) {
                EXPECT_GT(r.start, e.ranges[i - 1].last()) << "range " << i;
            }
        }
    }
}

TEST_F(PlatformListTest, CmMapsLeaveTheBootBlockOut) {
    for (PlId id : {0x20000001u, 0x20000002u, 0x20000003u}) {
        const PlatformEntry* e = list.find(id);
        ASSERT_NE(e, nullptr);
        const MemRange& big = e->ranges[4];
        const MemRange& top = e->ranges[5];
        EXPECT_EQ(big.last(), 0xFFEFFFFFu);
        EXPECT_EQ(top.last(), 0xFFFFFFFFu);
        EXPECT_FALSE(big.contains(0xFFF00000));
        EXPECT_FALSE(top.contains(0xFFF00000));
        EXPECT_FALSE(top.contains(0xFFF3FFFF));
        EXPECT_TRUE(top.contains(0xFFF40000));
        EXPECT_TRUE(top.contains(0xFFFFFFF0, 16));
        EXPECT_FALSE(top.contains(0xFFFFFFF0, 17));
    }
}

TEST_F(PlatformListTest, NamesOfUnknownIdentifiers) {
    EXPECT_STREQ(list.nameOf(0x20000003), "MPC8270 @ CM61/CM62 (8MB FLASH)");
    EXPECT_STREQ(list.nameOf(0x20000004), "UNKNOWN DEVICE");
    EXPECT_STREQ(list.nameOf(0), "UNKNOWN DEVICE");
    EXPECT_STREQ(list.nameOf(0x10000000), "UNKNOWN DEVICE");
    EXPECT_EQ(list.find(0x30000002), nullptr);
}

TEST_F(PlatformListTest, SelectMatchesExactIdentifierOnly) {
    EXPECT_FALSE(list.hasCurrent());
    EXPECT_TRUE(list.select(0x10000100));
    EXPECT_EQ(list.current().name, "XC167 @ KRMB (AMD)");
    EXPECT_EQ(list.currentIndex(), 2u);

    // A known family with an unknown variant is refused and the selection stays.
    EXPECT_FALSE(list.select(0x10000003));
    EXPECT_EQ(list.current().plID, 0x10000100u);

    EXPECT_TRUE(list.select(0x30000001));
    EXPECT_EQ(list.current().ranges.size(), 6u);
}

TEST_F(PlatformListTest, CurrentBeforeSelectIsAContractFailure) {
    const PlatformEntry& e = list.current();
    EXPECT_EQ(takeFailures(), std::vector{testing::require("PL set")});
    EXPECT_TRUE(e.ranges.empty());
    EXPECT_EQ(e.name, "UNKNOWN DEVICE");

    list.entry(8);
    EXPECT_EQ(takeFailures(), std::vector{testing::require("correct index")});
}

TEST(MemRangeTest, ContainsChecksBothEnds) {
    MemRange r{RangeKind::Flash, 0x1000, 0x100, 0, 0};
    EXPECT_FALSE(r.contains(0xFFF));
    EXPECT_TRUE(r.contains(0x1000));
    EXPECT_TRUE(r.contains(0x10FF));
    EXPECT_FALSE(r.contains(0x1100));
    EXPECT_TRUE(r.contains(0x1000, 0x100));
    EXPECT_FALSE(r.contains(0x1001, 0x100));
    EXPECT_TRUE(r.contains(0x1080, 0));
    EXPECT_STREQ(rangeKindName(RangeKind::Aux), "Aux");
    EXPECT_STREQ(rangeKindName(static_cast<RangeKind>(7)), "?");
}

}  // namespace
}  // namespace zq
