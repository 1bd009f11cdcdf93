#include "cli/rate_meter.h"

#include <gtest/gtest.h>

namespace zq::cli {
namespace {

using namespace std::chrono_literals;

// No rate from less than a second, and none while nothing moves; then only the last five
// seconds count, so a slow start (the connect, a stall) is forgotten once it lies behind.
TEST(RateMeterTest, TheRateIsThatOfTheLastSecondsAndTheTimeLeftRoundsUp) {
    RateMeter meter;
    const RateMeter::Clock::time_point t0{};
    meter.add(t0, 0);
    meter.add(t0 + 500ms, 0);
    EXPECT_FALSE(meter.secondsLeft(1000));
    meter.add(t0 + 3s, 0);
    EXPECT_FALSE(meter.bytesPerSecond());
    for (int s = 4; s <= 9; ++s) meter.add(t0 + std::chrono::seconds(s), (s - 3) * 1000u);
    EXPECT_DOUBLE_EQ(*meter.bytesPerSecond(), 1000.0);
    EXPECT_EQ(*meter.secondsLeft(8500), 3u);
    meter.add(t0 + 10s, 8500);
    EXPECT_EQ(*meter.secondsLeft(8500), 0u);
    EXPECT_EQ(minutesSeconds(0), "0:00");
    EXPECT_EQ(minutesSeconds(3725), "62:05");
}

}  // namespace
}  // namespace zq::cli
