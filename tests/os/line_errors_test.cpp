#include <gtest/gtest.h>

#include "os/line_errors.h"
#include "os/notifications.h"

namespace zq {
namespace {

TEST(LineErrors, CounterChangesBecomeTheWindowsBits) {
    LineErrorCounts before{3, 1, 0, 7, 0};
    EXPECT_EQ(lineErrorBits(before, before), 0u);
    LineErrorCounts after = before;
    after.frame += 2;
    after.overrun += 1;
    EXPECT_EQ(lineErrorBits(before, after), kLineErrorFrame | kLineErrorOverrun);
    after = before;
    after.parity = 1;
    after.brk = 8;
    after.bufferOverrun = 1;
    EXPECT_EQ(lineErrorBits(before, after), kLineErrorParity | kLineErrorBreak | kLineErrorRxOver);
    // A counter that wrapped around still counts as an error.
    before.frame = 0xFFFFFFFFu;
    after = before;
    after.frame = 0;
    EXPECT_EQ(lineErrorBits(before, after), kLineErrorFrame);
}

}  // namespace
}  // namespace zq
