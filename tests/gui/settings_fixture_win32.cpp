#include <windows.h>

#include "gui/settings_fixture.h"

namespace zq {

namespace {

constexpr const char* kTestProduct = "RedivuvizerER-test";

void removeTestKey() {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Trevik\\RedivuvizerER-test");
}

}  // namespace

void SettingsTest::SetUp() {
    ContractTest::SetUp();
    removeTestKey();
    settings_ = std::make_unique<Settings>(kTestProduct);
}

void SettingsTest::TearDown() {
    removeTestKey();
    ContractTest::TearDown();
}

}  // namespace zq
