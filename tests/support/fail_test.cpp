#include <gtest/gtest.h>

#include "common/recording_failure_handler.h"
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

}  // namespace
}  // namespace zq
