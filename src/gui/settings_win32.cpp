#include <windows.h>

#include <array>

#include "gui/journal.h"
#include "gui/settings.h"
#include "support/text.h"

namespace zq {

namespace {

constexpr const wchar_t* kPortValue = L"port";
constexpr const wchar_t* kLastUpdateValue = L"lastUpdateTime";

// Closes a key when it goes out of scope, so every early return releases what was opened.
class Key {
public:
    Key() = default;
    ~Key() {
        if (handle_ != nullptr) RegCloseKey(handle_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* out() { return &handle_; }
    HKEY get() const { return handle_; }

private:
    HKEY handle_ = nullptr;
};

std::array<std::wstring, 3> subkeys(const std::string& product) {
    return {L"Software", fromUtf8(Settings::kCompany), fromUtf8(product)};
}

// Reads a REG_BINARY value of exactly `size` bytes; anything else counts as no value (a longer
// value does not fit the buffer and fails with ERROR_MORE_DATA).
bool queryBinary(HKEY key, const wchar_t* name, BYTE* data, DWORD size) {
    DWORD type = 0;
    DWORD got = size;
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, data, &got);
    return rc == ERROR_SUCCESS && type == REG_BINARY && got == size;
}

// The update check names the key by one path; the registry ignores the case of "SOFTWARE".
bool openUpdateKey(const std::string& product, Key& key) {
    std::wstring path = L"SOFTWARE\\" + fromUtf8(Settings::kCompany) + L"\\" + fromUtf8(product);
    return RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_READ | KEY_WRITE, nullptr, key.out(), nullptr) == ERROR_SUCCESS;
}

}  // namespace

std::uint8_t Settings::loadPortIndex() const {
    Key root;
    if (RegOpenCurrentUser(KEY_ALL_ACCESS, root.out()) != ERROR_SUCCESS) return 0;
    std::array<Key, 3> keys;
    HKEY parent = root.get();
    auto names = subkeys(product_);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (RegOpenKeyExW(parent, names[i].c_str(), 0, KEY_ALL_ACCESS, keys[i].out()) !=
            ERROR_SUCCESS)
            return 0;
        parent = keys[i].get();
    }
    BYTE index = 0;
    return queryBinary(parent, kPortValue, &index, 1) ? index : 0;
}

void Settings::storePortIndex(std::uint8_t index) const {
    Key root;
    if (RegOpenCurrentUser(KEY_ALL_ACCESS, root.out()) != ERROR_SUCCESS) return;
    std::array<Key, 3> keys;
    HKEY parent = root.get();
    auto names = subkeys(product_);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (RegCreateKeyExW(parent, names[i].c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, keys[i].out(), nullptr) != ERROR_SUCCESS)
            return;
        parent = keys[i].get();
    }
    BYTE data = index;
    if (RegSetValueExW(parent, kPortValue, 0, REG_BINARY, &data, 1) == ERROR_SUCCESS)
        RegFlushKey(parent);
}

bool Settings::loadLastUpdateTime(std::int64_t& seconds) const {
    Key key;
    if (!openUpdateKey(product_, key)) return false;
    std::array<BYTE, 8> data{};
    if (!queryBinary(key.get(), kLastUpdateValue, data.data(), 8)) return false;
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | data[static_cast<std::size_t>(i)];
    seconds = static_cast<std::int64_t>(value);
    return true;
}

bool Settings::storeLastUpdateTime(std::int64_t seconds) const {
    Key key;
    if (!openUpdateKey(product_, key)) return false;
    std::array<BYTE, 8> data{};
    auto value = static_cast<std::uint64_t>(seconds);
    for (std::size_t i = 0; i < 8; ++i) data[i] = static_cast<BYTE>(value >> (8 * i));
    return RegSetValueExW(key.get(), kLastUpdateValue, 0, REG_BINARY, data.data(), 8) ==
           ERROR_SUCCESS;
}

std::filesystem::path defaultJournalPath() {
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (local == nullptr || local[0] == L'\0') return {};
    return std::filesystem::path(local) / fromUtf8(Settings::kCompany) /
           fromUtf8(Settings::kProduct) / kJournalFileName;
}

}  // namespace zq
