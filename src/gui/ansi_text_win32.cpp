#include <windows.h>

#include "gui/ansi_text.h"
#include "support/text.h"

namespace zq {

std::string ansiToUtf8(std::string_view bytes) {
    if (bytes.empty()) return {};
    int length = static_cast<int>(bytes.size());
    int wideLength = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    if (wideLength <= 0) return windows1250ToUtf8(bytes);
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, wide.data(), wideLength);
    return toUtf8(wide);
}

}  // namespace zq
