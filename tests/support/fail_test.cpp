#include <gtest/gtest.h>

#include "common/recording_failure_handler.h"
#include "support/fail.h"

namespace zq {
namespace {

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

}  // namespace
}  // namespace zq
