#include <cerrno>
#include <cstdint>

namespace zq {

void setLastError(std::uint32_t code);
void setLastError(std::uint32_t code) {
    errno = static_cast<int>(code);
}

}  // namespace zq
