#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/recording_failure_handler.h"
#include "common/temp_dir.h"

namespace zq::testing {

RecordingFailureHandler& failureRecorder() {
    // Constructed before any test runs, so it is the first handler and the process-wide one.
    static RecordingFailureHandler recorder;
    return recorder;
}

}  // namespace zq::testing

int main(int argc, char** argv) {
    zq::testing::failureRecorder();
    // Every run that a test ends is recorded in the journal: here, never in the user's own.
    zq::testing::TempDir state;
#ifdef _WIN32
    _putenv_s("LOCALAPPDATA", state.path().string().c_str());
#else
    setenv("XDG_STATE_HOME", state.path().c_str(), 1);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
