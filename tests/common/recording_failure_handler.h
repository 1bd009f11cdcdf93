#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/fail.h"

namespace zq::testing {

struct RecordedFailure {
    FailureKind kind;
    std::string text;

    bool operator==(const RecordedFailure&) const = default;
};

// The test programs' process-wide failure handler (installed by test_main.cpp): it records
// every contract failure instead of reporting it, so tests can assert the exact labels.
class RecordingFailureHandler : public FailureHandler {
public:
    std::vector<RecordedFailure> take();

protected:
    void onFailure() override;

private:
    std::mutex lock_;
    std::vector<RecordedFailure> failures_;
};

RecordingFailureHandler& failureRecorder();

// The contract failures recorded since the last call (or the start of the test).
std::vector<RecordedFailure> takeFailures();

inline RecordedFailure require(const char* text) {
    return {FailureKind::Require, text};
}
inline RecordedFailure explicitFailure(const char* text) {
    return {FailureKind::Explicit, text};
}

void PrintTo(const RecordedFailure& failure, std::ostream* os);

// Base fixture: a test that leaves contract failures it did not take fails.
class ContractTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

// For code that leaves a message for the window when a worker fails: no message is left over
// from an earlier test, and the test takes every one it causes.
class PendingMessageTest : public ContractTest {
protected:
    void SetUp() override;
    void TearDown() override;
};

}  // namespace zq::testing
