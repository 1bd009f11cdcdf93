#include <gtest/gtest.h>

#include "common/recording_failure_handler.h"

namespace zq::testing {

RecordingFailureHandler& failureRecorder() {
    // Constructed before any test runs, so it is the first handler and the process-wide one.
    static RecordingFailureHandler recorder;
    return recorder;
}

}  // namespace zq::testing

int main(int argc, char** argv) {
    zq::testing::failureRecorder();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
