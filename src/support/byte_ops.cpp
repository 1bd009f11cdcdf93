#include "support/byte_ops.h"

#include <cstring>

namespace zq {

void copyBytes(void* destination, const void* source, std::size_t n) {
    if (n != 0) std::memcpy(destination, source, n);
}

void fillBytes(void* destination, std::uint8_t value, std::size_t n) {
    if (n != 0) std::memset(destination, value, n);
}

int compareBytes(const void* a, const void* b, std::size_t n) {
    const auto* x = static_cast<const unsigned char*>(a);
    const auto* y = static_cast<const unsigned char*>(b);
    for (std::size_t i = 0; i < n; ++i)
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    return 0;
}

void copyStringBounded(char* destination, const char* source, std::size_t n) {
    std::size_t i = 0;
    for (; i < n && source[i] != '\0'; ++i) destination[i] = source[i];
    for (; i < n; ++i) destination[i] = '\0';
}

}  // namespace zq
