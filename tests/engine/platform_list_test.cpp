#include "engine/platform_list.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "common/recording_failure_handler.h"
#include "sim/memory_map.h"

namespace zq {
namespace {

using testing::ContractTest;

class PlatformListTest : public ContractTest {
protected:
    PlatformList list;
};

RangeKind kindOf(sim::RangeKind kind) {
    return kind == sim::RangeKind::Ram ? RangeKind::Ram
           : kind == sim::RangeKind::Flash ? RangeKind::Flash
                                            : RangeKind::Aux;
}

// The catalogue against the boards as the simulator builds them from their manuals: a wrong
// range, name or order in the program shows here before it burns a module.
TEST_F(PlatformListTest, CatalogueAgreesWithTheBoardsInOrder) {
    ASSERT_EQ(list.count(), sim::boards().size());
    for (std::size_t i = 0; i < list.count(); ++i) {
        const sim::Board& board = sim::boards()[i];
        SCOPED_TRACE(board.name);
        const PlatformEntry* e = list.find(board.plID);
        ASSERT_EQ(e, &list.entry(i));
        EXPECT_EQ(e->name, board.name);
        EXPECT_STREQ(list.nameOf(board.plID), board.name.c_str());
        ASSERT_EQ(e->ranges.size(), board.map.size());
        for (std::size_t r = 0; r < board.map.size(); ++r) {
            const MemRange& range = e->ranges[r];
            EXPECT_EQ(range.kind, kindOf(board.map[r].kind)) << r;
            EXPECT_EQ(range.start, board.map[r].span.start) << r;
            EXPECT_EQ(range.size, board.map[r].span.length) << r;
            // Only flash is erased; every write has the same second.
            EXPECT_EQ(range.eraseTimeoutMs == 0, range.kind != RangeKind::Flash) << r;
            EXPECT_EQ(range.writeTimeoutMs, 1000u) << r;
        }
    }
}

}  // namespace
}  // namespace zq
