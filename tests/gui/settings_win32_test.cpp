#include <windows.h>

#include <array>
#include <cstdint>

#include <gtest/gtest.h>

#include "gui/settings.h"
#include "gui/settings_fixture.h"

namespace zq {
namespace {

constexpr const wchar_t* kKey = L"Software\\Trevik\\RedivuvizerER-test";

class SettingsRegistryTest : public SettingsTest {
protected:
    void setValue(const wchar_t* name, DWORD type, const void* data, DWORD size) const {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    // The raw value as the registry holds it: type and size.
    std::pair<DWORD, DWORD> rawValue(const wchar_t* name) const {
        DWORD type = 0;
        DWORD size = 0;
        LONG rc = RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_ANY, &type, nullptr, &size);
        return rc == ERROR_SUCCESS ? std::pair{type, size} : std::pair{DWORD{0}, DWORD{0}};
    }
};

TEST_F(SettingsRegistryTest, StoresBinaryValuesOfOneAndEightBytes) {
    settings().storePortIndex(12);
    EXPECT_EQ(rawValue(L"port"), (std::pair<DWORD, DWORD>{REG_BINARY, 1}));
    ASSERT_TRUE(settings().storeLastUpdateTime(0x0102030405060708LL));
    EXPECT_EQ(rawValue(L"lastUpdateTime"), (std::pair<DWORD, DWORD>{REG_BINARY, 8}));
    std::array<BYTE, 8> data{};
    DWORD size = 8;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, kKey, L"lastUpdateTime", RRF_RT_REG_BINARY, nullptr,
                           data.data(), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(data, (std::array<BYTE, 8>{8, 7, 6, 5, 4, 3, 2, 1})) << "little-endian";
}

TEST_F(SettingsRegistryTest, ValuesOfAnotherTypeOrSizeAreNoValues) {
    struct Case {
        const wchar_t* name;
        DWORD type;
        DWORD size;
        bool read;
    };
    const BYTE data[9] = {5};
    for (const Case& c : {Case{L"port", REG_DWORD, 4, false}, Case{L"port", REG_BINARY, 4, false},
                          Case{L"port", REG_BINARY, 0, false}, Case{L"port", REG_BINARY, 1, true},
                          Case{L"lastUpdateTime", REG_BINARY, 9, false},
                          Case{L"lastUpdateTime", REG_BINARY, 7, false},
                          Case{L"lastUpdateTime", REG_QWORD, 8, false},
                          Case{L"lastUpdateTime", REG_BINARY, 8, true}}) {
        setValue(c.name, c.type, data, c.size);
        EXPECT_EQ(c.name[0] == L'p' ? settings().loadPortIndex() == 5 : hasTime(), c.read)
            << c.type << " " << c.size;
    }

    // Closing the window writes the 1-byte form over whatever was there.
    setValue(L"port", REG_DWORD, data, 4);
    settings().storePortIndex(1);
    EXPECT_EQ(rawValue(L"port"), (std::pair<DWORD, DWORD>{REG_BINARY, 1}));
    EXPECT_EQ(settings().loadPortIndex(), 1);
}

TEST_F(SettingsRegistryTest, UpdateCheckPathFindsTheSameKey) {
    // The update check names the key "SOFTWARE\..."; the port walks "Software", "Trevik", ...
    ASSERT_TRUE(settings().storeLastUpdateTime(77));
    EXPECT_EQ(rawValue(L"lastUpdateTime"), (std::pair<DWORD, DWORD>{REG_BINARY, 8}));
    settings().storePortIndex(3);
    std::int64_t time = 0;
    ASSERT_TRUE(settings().loadLastUpdateTime(time));
    EXPECT_EQ(time, 77);
    EXPECT_EQ(settings().loadPortIndex(), 3);
}

}  // namespace
}  // namespace zq
