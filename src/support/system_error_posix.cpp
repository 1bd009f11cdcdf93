#include <cerrno>
#include <cstring>
#include <type_traits>

#include "support/vyjimka.h"

namespace zq {

std::uint32_t lastSystemError() {
    return static_cast<std::uint32_t>(errno);
}

std::string systemErrorText(std::uint32_t code) {
    char buffer[256] = {};
    // GNU strerror_r may return a static text instead of filling the buffer; XSI fills it.
    auto result = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    if constexpr (std::is_same_v<decltype(result), char*>)
        return result ? std::string(result) : std::string();
    else
        return result == 0 ? std::string(buffer) : std::string();
}

}  // namespace zq
