#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "common/recording_failure_handler.h"
#include "support/mem_ptr.h"

namespace zq {
namespace {

using testing::require;
using testing::takeFailures;
using Failures = std::vector<testing::RecordedFailure>;

class MemPtrTest : public testing::ContractTest {
protected:
    std::array<std::uint8_t, 8> bytes{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    MemPtr view{bytes.data(), 8};
};

// Fields in both byte orders are what every request and reply and the ELF reader go through;
// here only the guard around them.
TEST_F(MemPtrTest, FieldsBeyondTheViewAreRefusedWithoutTouchingMemory) {
    EXPECT_EQ(view.getU32(4, kBigEndian), 0x9ABCDEF0u) << "offset size - 4 is the last field";
    EXPECT_TRUE(takeFailures().empty());

    EXPECT_EQ(view.getU32(5, kBigEndian), 0u);
    EXPECT_EQ(view.getU64(1, kBigEndian), 0u);
    EXPECT_EQ(view.getU8(8), 0u);
    view.setU16(7, 0xFFFF, kBigEndian);
    view.setU32(0xFFFFFFFEu, 1, kBigEndian);  // offset + width wraps around 32 bits
    std::uint8_t source[4] = {9, 9, 9, 9};
    view.copyIn(6, source, 4);
    EXPECT_EQ(takeFailures(), Failures(6, require("correct offset")));
    EXPECT_EQ(bytes[7], 0xF0) << "nothing was written";

    view.copyIn(4, source, 4);
    EXPECT_EQ(view.getU32(4, kBigEndian), 0x09090909u);
}

TEST_F(MemPtrTest, SubViewsStayInsideTheirParent) {
    MemPtr dest;
    EXPECT_TRUE(view.subView(8, 0, dest));
    EXPECT_TRUE(view.subView(3, 5, dest));
    EXPECT_EQ(dest.data(), bytes.data() + 3);
    EXPECT_EQ(dest.size(), 5u);
    EXPECT_TRUE(takeFailures().empty());

    EXPECT_FALSE(view.subView(4, 5, dest));
    EXPECT_FALSE(view.subView(0, 9, dest));
    EXPECT_FALSE(view.subView(0xFFFFFFFFu, 2, dest)) << "offset + length wraps around";
    EXPECT_EQ(takeFailures(), Failures(3, require("correct offset")));
    EXPECT_EQ(dest.data(), bytes.data() + 3) << "a refused sub-view leaves dest alone";
}

}  // namespace
}  // namespace zq
