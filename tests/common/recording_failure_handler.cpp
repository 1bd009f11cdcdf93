#include "common/recording_failure_handler.h"

#include <ostream>

#include "support/vyjimka.h"

namespace zq::testing {

std::vector<RecordedFailure> RecordingFailureHandler::take() {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<RecordedFailure> taken;
    taken.swap(failures_);
    return taken;
}

void RecordingFailureHandler::onFailure() {
    std::lock_guard<std::mutex> guard(lock_);
    failures_.push_back({kind(), text() ? text() : ""});
}

std::vector<RecordedFailure> takeFailures() {
    return failureRecorder().take();
}

void PrintTo(const RecordedFailure& failure, std::ostream* os) {
    *os << failureKindName(failure.kind) << " \"" << failure.text << '"';
}

void ContractTest::SetUp() {
    takeFailures();
}

void ContractTest::TearDown() {
    EXPECT_EQ(takeFailures(), std::vector<RecordedFailure>{}) << "unexpected contract failures";
}

void PendingMessageTest::SetUp() {
    ContractTest::SetUp();
    takePendingMessage();
}

void PendingMessageTest::TearDown() {
    EXPECT_FALSE(hasPendingMessage()) << "a message for the window was left";
    ContractTest::TearDown();
}

}  // namespace zq::testing
