#include "support/mem_source.h"

#include <cstring>

#include "support/fail.h"

namespace zq {

namespace {
constexpr const char* kCorrectOffset = "correct offset";
}

bool MemSource::read(void* destination, std::uint32_t n) {
    if (!require(n <= remaining(), kCorrectOffset)) {
        if (n != 0) std::memset(destination, 0, n);
        return false;
    }
    if (n != 0) std::memcpy(destination, view_.data() + position_, n);
    position_ += n;
    return true;
}

void MemSource::skipForward(std::uint32_t n) {
    if (require(n <= remaining(), kCorrectOffset)) position_ += n;
}

void MemSource::skipBackward(std::uint32_t n) {
    if (require(n <= position_, kCorrectOffset)) position_ -= n;
}

void MemSource::seekFromStart(std::uint32_t position) {
    if (require(position <= view_.size(), kCorrectOffset)) position_ = position;
}

void MemSource::seekFromEnd(std::uint32_t n) {
    if (require(n <= view_.size(), kCorrectOffset)) position_ = view_.size() - n;
}

}  // namespace zq
