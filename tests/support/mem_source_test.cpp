#include <gtest/gtest.h>

#include <array>

#include "common/recording_failure_handler.h"
#include "support/mem_source.h"

namespace zq {
namespace {

using testing::require;
using testing::takeFailures;
using Failures = std::vector<testing::RecordedFailure>;

class MemSourceTest : public testing::ContractTest {
protected:
    std::array<std::uint8_t, 10> bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    MemSource source{MemPtr(bytes.data(), 10)};
};

// Reading and moving inside the view is what every image test does through it.
TEST_F(MemSourceTest, RefusesToLeaveTheView) {
    source.seekFromEnd(4);
    std::array<std::uint8_t, 5> out;
    out.fill(0xFF);
    EXPECT_FALSE(source.read(out.data(), 5));
    EXPECT_EQ(out, (std::array<std::uint8_t, 5>{})) << "no stale bytes pass as data";
    source.skipForward(5);
    source.skipBackward(7);
    source.seekFromStart(11);
    source.seekFromEnd(11);
    EXPECT_EQ(takeFailures(), Failures(5, require("correct offset")));
    EXPECT_EQ(source.position(), 6u) << "refused moves leave the position alone";
}

}  // namespace
}  // namespace zq
