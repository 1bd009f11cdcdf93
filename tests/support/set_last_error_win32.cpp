#include <windows.h>

#include <cstdint>

namespace zq {

void setLastError(std::uint32_t code);
void setLastError(std::uint32_t code) {
    SetLastError(code);
}

}  // namespace zq
