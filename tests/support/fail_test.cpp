#include <gtest/gtest.h>

#include "common/recording_failure_handler.h"
#include "support/byte_ops.h"
#include "support/fail.h"

namespace zq {
namespace {

using testing::explicitFailure;
using testing::require;
using testing::takeFailures;

class FailTest : public testing::ContractTest {};

TEST_F(FailTest, FirstHandlerStaysProcessWide) {
    FailureHandler* first = FailureHandler::instance();
    ASSERT_EQ(first, &testing::failureRecorder());
    {
        FailureHandler second(7);
        EXPECT_EQ(FailureHandler::instance(), first);
        fail(FailureKind::Require, "correct index");
        EXPECT_EQ(second.kind(), FailureKind::NoFailure) << "a later handler records nothing";
    }
    EXPECT_EQ(FailureHandler::instance(), first) << "destroying a later handler changes nothing";
    EXPECT_EQ(takeFailures(), (std::vector{require("correct index")}));
}

TEST_F(FailTest, RecordsKindTextAndNumbersUntilReset) {
    FailureHandler& handler = *FailureHandler::instance();
    fail(FailureKind::Explicit, "deadlock", 17u);
    EXPECT_EQ(handler.kind(), FailureKind::Explicit);
    EXPECT_STREQ(handler.text(), "deadlock");
    EXPECT_EQ(handler.number1(), 17u);
    fail2(FailureKind::Require, "enough data", 5u);
    EXPECT_EQ(handler.number2(), 5u);
    handler.reset();
    EXPECT_EQ(handler.kind(), FailureKind::NoFailure);
    EXPECT_EQ(handler.text(), nullptr);
    EXPECT_EQ(handler.number1(), 0u);
    EXPECT_EQ(handler.number2(), 0xFFFFFFFFu);
    EXPECT_EQ(takeFailures(), (std::vector{explicitFailure("deadlock"), require("enough data")}));
}

TEST_F(FailTest, RequireHandsBackTheCondition) {
    EXPECT_TRUE(zq::require(true, "expected state"));
    EXPECT_TRUE(takeFailures().empty());
    EXPECT_FALSE(zq::require(false, "expected state"));
    EXPECT_EQ(takeFailures(), (std::vector{require("expected state")}));
}

TEST(ByteOps, CompareIsUnsignedAndStopsAtFirstDifference) {
    const unsigned char a[] = {1, 0x80, 3};
    const unsigned char b[] = {1, 0x7F, 9};
    EXPECT_EQ(compareBytes(a, b, 3), 1);
    EXPECT_EQ(compareBytes(b, a, 3), -1);
    EXPECT_EQ(compareBytes(a, b, 1), 0);
    EXPECT_EQ(compareBytes(a, b, 0), 0);
}

TEST(ByteOps, BoundedStringCopyZeroFillsAfterTheSource) {
    char out[6];
    fillBytes(out, 'x', sizeof out);
    copyStringBounded(out, "ab", sizeof out);
    EXPECT_EQ(std::string(out, 6), std::string("ab\0\0\0\0", 6));
    copyStringBounded(out, "abcdefgh", 4);
    EXPECT_EQ(std::string(out, 6), std::string("abcd\0\0", 6)) << "no terminator when cut";
    char copy[3];
    copyBytes(copy, "xyz", 3);
    EXPECT_EQ(std::string(copy, 3), "xyz");
}

}  // namespace
}  // namespace zq
