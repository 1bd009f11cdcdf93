#include <cstdlib>

#include "gui/settings_fixture.h"

namespace zq {

void SettingsTest::SetUp() {
    ContractTest::SetUp();
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) savedEnvironment_ = old;
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    settings_ = std::make_unique<Settings>();
}

void SettingsTest::TearDown() {
    if (savedEnvironment_) {
        ::setenv("XDG_CONFIG_HOME", savedEnvironment_->c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
    ContractTest::TearDown();
}

}  // namespace zq
