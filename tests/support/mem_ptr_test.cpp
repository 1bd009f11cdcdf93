#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "common/recording_failure_handler.h"
#include "support/mem_ptr.h"

namespace zq {
namespace {

using testing::explicitFailure;
using testing::require;
using testing::takeFailures;
using Failures = std::vector<testing::RecordedFailure>;

class MemPtrTest : public testing::ContractTest {
protected:
    std::array<std::uint8_t, 8> bytes{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    MemPtr view{bytes.data(), 8};
};

TEST_F(MemPtrTest, ReadsFieldsInBothByteOrders) {
    EXPECT_EQ(view.getU8(7), 0xF0);
    EXPECT_EQ(view.getU16(0, kBigEndian), 0x1234);
    EXPECT_EQ(view.getU16(0, kLittleEndian), 0x3412);
    EXPECT_EQ(view.getU16(0, 7), 0x3412) << "any non-zero flag means little-endian";
    EXPECT_EQ(view.getU24(1, kBigEndian), 0x345678u);
    EXPECT_EQ(view.getU24(1, kLittleEndian), 0x785634u);
    EXPECT_EQ(view.getU32(4, kBigEndian), 0x9ABCDEF0u);
    EXPECT_EQ(view.getU32(4, kLittleEndian), 0xF0DEBC9Au);
    EXPECT_EQ(view.getU64(0, kBigEndian), 0x123456789ABCDEF0ull);
    EXPECT_EQ(view.getU64(0, kLittleEndian), 0xF0DEBC9A78563412ull);
}

TEST_F(MemPtrTest, WritesFieldsInBothByteOrders) {
    view.setU32(0, 0x01020304u, kLittleEndian);
    view.setU24(4, 0x0A0B0Cu, kBigEndian);
    view.setU8(7, 0xEE);
    EXPECT_EQ(bytes, (std::array<std::uint8_t, 8>{4, 3, 2, 1, 0x0A, 0x0B, 0x0C, 0xEE}));
    view.setU64(0, 0x1122334455667788ull, kBigEndian);
    EXPECT_EQ(view.getU64(0, kLittleEndian), 0x8877665544332211ull);
    view.setU16(6, 0xBEEF, kLittleEndian);
    EXPECT_EQ(bytes[6], 0xEF);
    EXPECT_EQ(bytes[7], 0xBE);
}

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

TEST_F(MemPtrTest, WholeViewAccessNeedsTheExactSize) {
    MemPtr four = view.subView(2, 4);
    EXPECT_EQ(four.asU32(kBigEndian), 0x56789ABCu);
    four.setAsU32(0xCAFEBABEu, kLittleEndian);
    EXPECT_EQ(bytes[2], 0xBE);
    EXPECT_TRUE(takeFailures().empty());

    EXPECT_EQ(four.asU16(kBigEndian), 0u);
    EXPECT_EQ(four.asU8(), 0u);
    view.subView(0, 2).setAsU32(1, kBigEndian);
    EXPECT_EQ(takeFailures(), Failures(3, require("correct size")));
    EXPECT_EQ(bytes[0], 0x12);
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

TEST_F(MemPtrTest, BitViews) {
    MemPtr bit = view.subView(1, 0, 0x20);  // byte 0x34 has bit 5 set
    EXPECT_TRUE(bit.isBitView());
    EXPECT_EQ(bit.size(), 0u);
    EXPECT_EQ(bit.bitIndex(), 5);
    EXPECT_TRUE(bit.bitValue());
    bit.setBitValue(false);
    EXPECT_EQ(bytes[1], 0x14);
    bit.toggleBit();
    EXPECT_EQ(bytes[1], 0x34);
    EXPECT_TRUE(bit.testBit(0, 0x20));
    EXPECT_TRUE(takeFailures().empty());

    MemPtr top(bytes.data(), 0, 0x80);
    EXPECT_EQ(top.bitIndex(), 7);

    MemPtr(bytes.data(), 0, 0x03);
    MemPtr(bytes.data(), 2, 0x01);
    EXPECT_EQ(takeFailures(), (Failures{require("correct mask"), require("correct size")}));

    view.subView(1, 1, 0x20);  // a bit view has no length
    view.subView(8, 0, 0x20);  // no byte to hold the bit
    bit.subView(0, 0, 0x40);   // not a bit of this bit view
    EXPECT_EQ(takeFailures(), Failures(3, require("correct mask")));
    EXPECT_TRUE(bit.subView(0, 0, 0x20).bitValue());
}

TEST_F(MemPtrTest, BitAccessChecks) {
    EXPECT_TRUE(view.testBit(7, 0x80));
    view.setBit(7, 0x0F, false);
    EXPECT_EQ(bytes[7], 0xF0);
    view.setBit(0, 0x01, true);
    EXPECT_EQ(bytes[0], 0x13);
    EXPECT_TRUE(takeFailures().empty());

    EXPECT_FALSE(view.testBit(8, 0x01));
    MemPtr bit = view.subView(0, 0, 0x01);
    EXPECT_FALSE(bit.testBit(0, 0x02)) << "a bit view answers only for its own bit";
    EXPECT_EQ(takeFailures(), Failures(2, require("correct offset")));

    view.bitValue();
    view.setBitValue(true);
    view.toggleBit();
    view.bitIndex();
    EXPECT_EQ(takeFailures(), Failures(4, require("correct mask")));
}

TEST_F(MemPtrTest, CopyAndCompareNeedTheSameSize) {
    std::array<std::uint8_t, 8> other{};
    MemPtr target(other.data(), 8);
    target.copyFrom(view);
    EXPECT_EQ(other, bytes);
    EXPECT_TRUE(target.equals(view));
    other[3] ^= 1;
    EXPECT_FALSE(target.equals(view));

    MemPtr a = view.subView(0, 0, 0x02);    // 0x12: bit 1 set
    MemPtr b = target.subView(2, 0, 0x02);  // 0x56: bit 1 set
    MemPtr c = target.subView(0, 0, 0x01);  // 0x12: bit 0 clear
    EXPECT_TRUE(a.equals(b));
    c.copyFrom(a);
    EXPECT_TRUE(c.bitValue());
    EXPECT_EQ(other[0], 0x13);
    EXPECT_TRUE(takeFailures().empty());

    EXPECT_FALSE(target.subView(0, 4).equals(view));
    target.subView(0, 4).copyFrom(view);
    EXPECT_EQ(takeFailures(), Failures(2, require("same size")));

    MemPtr empty(bytes.data(), 0);
    EXPECT_FALSE(empty.equals(a)) << "a byte view never equals a bit view";
    EXPECT_EQ(takeFailures(), (Failures{explicitFailure("same size")}));
}

TEST_F(MemPtrTest, RawCopiesAndIdentity) {
    std::array<std::uint8_t, 8> out{};
    view.copyTo(out.data());
    EXPECT_EQ(out, bytes);
    view.subView(2, 3).fill(0xAA);
    EXPECT_EQ(bytes, (std::array<std::uint8_t, 8>{0x12, 0x34, 0xAA, 0xAA, 0xAA, 0xBC, 0xDE, 0xF0}));

    MemPtr same(bytes.data(), 8);
    EXPECT_TRUE(view.isSameView(same));
    EXPECT_EQ(takeFailures(), (Failures{explicitFailure("unused?")}));
}

TEST_F(MemPtrTest, OwnedViewsOwnAZeroedCopy) {
    OwnedMemPtr owned(4);
    EXPECT_EQ(owned.size(), 4u);
    EXPECT_EQ(owned.getU32(0, kBigEndian), 0u);
    owned.setU32(0, 0xDEADBEEFu, kBigEndian);

    OwnedMemPtr copy(owned);
    EXPECT_NE(copy.data(), owned.data());
    EXPECT_TRUE(copy.equals(owned));
    owned.setU8(0, 0);
    EXPECT_EQ(copy.getU8(0), 0xDE);

    OwnedMemPtr none(0);
    EXPECT_NE(none.data(), nullptr) << "at least one byte is allocated";

    MemPtr bit = view.subView(1, 0, 0x04);  // 0x34: bit 2 set
    OwnedMemPtr bitCopy(bit);
    EXPECT_EQ(bitCopy.mask(), 0x04);
    EXPECT_TRUE(bitCopy.bitValue()) << "the copied bit keeps its value";
}

}  // namespace
}  // namespace zq
