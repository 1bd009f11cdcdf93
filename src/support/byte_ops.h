#pragma once

#include <cstddef>
#include <cstdint>

namespace zq {

void copyBytes(void* destination, const void* source, std::size_t n);
void fillBytes(void* destination, std::uint8_t value, std::size_t n);
// -1, 0 or 1 at the first byte that differs, compared as unsigned values.
int compareBytes(const void* a, const void* b, std::size_t n);
// Copies at most n characters; after the source's terminating zero the rest of the n
// destination bytes become zero (so the result is not terminated when the source is longer).
void copyStringBounded(char* destination, const char* source, std::size_t n);

}  // namespace zq
