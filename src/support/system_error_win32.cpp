#include <windows.h>

#include "support/text.h"
#include "support/vyjimka.h"

namespace zq {

std::uint32_t lastSystemError() {
    return GetLastError();
}

// The system's own sentence, in the user's language, inserts ignored. Windows ends it with a
// line break, which stays part of the message.
std::string systemErrorText(std::uint32_t code) {
    wchar_t buffer[256] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, LANG_USER_DEFAULT, buffer, 256, nullptr);
    if (length == 0) return {};
    return toUtf8(std::wstring_view(buffer, length));
}

}  // namespace zq
