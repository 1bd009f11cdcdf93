#include "gui/settings.h"

#include <cstdint>

#include <gtest/gtest.h>

#include "gui/settings_fixture.h"

namespace zq {
namespace {

// Holds for both backends: the values survive from one Settings object to the next (nothing
// is cached in the object) and neither value disturbs the other.
TEST_F(SettingsTest, RoundTrip) {
    EXPECT_EQ(settings().loadPortIndex(), 0);
    std::int64_t time = 42;
    EXPECT_FALSE(settings().loadLastUpdateTime(time));
    EXPECT_EQ(time, 42);

    settings().storePortIndex(7);
    EXPECT_EQ(Settings(settings().product()).loadPortIndex(), 7);
    EXPECT_FALSE(settings().loadLastUpdateTime(time));

    ASSERT_TRUE(settings().storeLastUpdateTime(-0x0102030405060708LL));
    ASSERT_TRUE(settings().loadLastUpdateTime(time));
    EXPECT_EQ(time, -0x0102030405060708LL);
    EXPECT_EQ(settings().loadPortIndex(), 7);

    settings().storePortIndex(255);
    ASSERT_TRUE(settings().storeLastUpdateTime(1767225600));
    EXPECT_EQ(settings().loadPortIndex(), 255);
    ASSERT_TRUE(settings().loadLastUpdateTime(time));
    EXPECT_EQ(time, 1767225600);
}

}  // namespace
}  // namespace zq
