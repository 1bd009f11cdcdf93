#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "os/shell.h"
#include "support/text.h"

namespace zq {

bool openWebPageWithSystem(const std::string& url) {
    std::wstring address = fromUtf8(url);
    auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;  // smaller values are error codes
}

std::filesystem::path programDirectory() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        // A path that fills the buffer was cut short.
        if (length < buffer.size())
            return std::filesystem::path(std::wstring(buffer.data(), length)).parent_path();
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::string stationName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &length)) return {};
    return toUtf8(std::wstring_view(name, length));
}

std::string loginName() {
    // UNLEN (256) and its terminator.
    wchar_t name[257] = {};
    DWORD length = 257;
    if (!GetUserNameW(name, &length) || length == 0) return {};
    return toUtf8(std::wstring_view(name, length - 1));
}

}  // namespace zq
