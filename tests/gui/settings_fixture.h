#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/recording_failure_handler.h"
#include "common/temp_dir.h"
#include "gui/settings.h"

namespace zq {

// Settings in a place of the test's own: on POSIX a fresh $XDG_CONFIG_HOME, on Windows a key
// beside the program's (removed before and after the test), so a test run never touches the
// operator's stored values.
class SettingsTest : public testing::ContractTest {
protected:
    void SetUp() override;
    void TearDown() override;

    const Settings& settings() const { return *settings_; }
    bool hasTime() const {
        std::int64_t time = 0;
        return settings().loadLastUpdateTime(time);
    }

    testing::TempDir dir;

private:
    std::unique_ptr<Settings> settings_;
    std::optional<std::string> savedEnvironment_;
};

}  // namespace zq
