#include "support/mem_ptr.h"

#include <bit>
#include <cstring>

#include "support/fail.h"

namespace zq {

namespace {

constexpr const char* kCorrectOffset = "correct offset";
constexpr const char* kCorrectSize = "correct size";
constexpr const char* kCorrectMask = "correct mask";
constexpr const char* kSameSize = "same size";

bool isSingleBit(std::uint8_t mask) {
    return std::has_single_bit(mask);
}
bool isValidMask(std::uint8_t mask) {
    return mask == kByteMask || isSingleBit(mask);
}

}  // namespace

MemPtr::MemPtr(std::uint8_t* data, std::uint32_t size, std::uint8_t mask)
    : data_(data), size_(size), mask_(mask) {
    // A view that breaks its invariants is kept as the nearest sound view, so that later
    // accesses stay inside the memory the caller meant.
    if (!require(isValidMask(mask), kCorrectMask)) mask_ = kByteMask;
    if (!require(mask_ == kByteMask || size == 0, kCorrectSize)) size_ = 0;
}

void MemPtr::assign(std::uint8_t* data, std::uint32_t size, std::uint8_t mask) {
    data_ = data;
    size_ = size;
    mask_ = mask;
}

void MemPtr::assign(const MemPtr& other) {
    *this = other;
}

bool MemPtr::subView(std::uint32_t offset, std::uint32_t length, MemPtr& dest,
                     std::uint8_t mask) const {
    if (!require(length <= size_ && offset <= size_ - length, kCorrectOffset)) return false;
    if (mask < kByteMask) {
        // A bit of this view: length 0, one bit that this view also covers, on a byte that
        // exists (a bit view of a bit view stays on its byte).
        bool onByte = isBitView() ? offset == 0 : offset < size_;
        bool sound = length == 0 && isSingleBit(mask) && (mask & mask_) != 0 && onByte;
        if (!require(sound, kCorrectMask)) return false;
    }
    dest.assign(data_ + offset, length, mask);
    return true;
}

MemPtr MemPtr::subView(std::uint32_t offset, std::uint32_t length, std::uint8_t mask) const {
    MemPtr dest;
    subView(offset, length, dest, mask);
    return dest;
}

bool MemPtr::fieldFits(std::uint32_t offset, std::uint32_t width) const {
    return require(width <= size_ && offset <= size_ - width, kCorrectOffset);
}

std::uint64_t MemPtr::getField(std::uint32_t offset, std::uint32_t width, int order) const {
    if (!fieldFits(offset, width)) return 0;
    std::uint64_t value = 0;
    for (std::uint32_t i = 0; i < width; ++i) {
        std::uint32_t index = order == kBigEndian ? i : width - 1 - i;
        value = (value << 8) | data_[offset + index];
    }
    return value;
}

void MemPtr::setField(std::uint32_t offset, std::uint32_t width, std::uint64_t value, int order) {
    if (!fieldFits(offset, width)) return;
    for (std::uint32_t i = 0; i < width; ++i) {
        std::uint32_t index = order == kBigEndian ? width - 1 - i : i;
        data_[offset + index] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint8_t MemPtr::getU8(std::uint32_t offset) const {
    return static_cast<std::uint8_t>(getField(offset, 1, kBigEndian));
}
std::uint16_t MemPtr::getU16(std::uint32_t offset, int order) const {
    return static_cast<std::uint16_t>(getField(offset, 2, order));
}
std::uint32_t MemPtr::getU24(std::uint32_t offset, int order) const {
    return static_cast<std::uint32_t>(getField(offset, 3, order));
}
std::uint32_t MemPtr::getU32(std::uint32_t offset, int order) const {
    return static_cast<std::uint32_t>(getField(offset, 4, order));
}
std::uint64_t MemPtr::getU64(std::uint32_t offset, int order) const {
    return getField(offset, 8, order);
}

void MemPtr::setU8(std::uint32_t offset, std::uint8_t value) {
    setField(offset, 1, value, kBigEndian);
}
void MemPtr::setU16(std::uint32_t offset, std::uint16_t value, int order) {
    setField(offset, 2, value, order);
}
void MemPtr::setU24(std::uint32_t offset, std::uint32_t value, int order) {
    setField(offset, 3, value, order);
}
void MemPtr::setU32(std::uint32_t offset, std::uint32_t value, int order) {
    setField(offset, 4, value, order);
}
void MemPtr::setU64(std::uint32_t offset, std::uint64_t value, int order) {
    setField(offset, 8, value, order);
}

void MemPtr::copyIn(std::uint32_t offset, const void* source, std::uint32_t count) {
    if (!fieldFits(offset, count) || count == 0) return;
    std::memcpy(data_ + offset, source, count);
}

std::uint8_t MemPtr::asU8() const {
    if (!require(size_ == 1, kCorrectSize)) return 0;
    return getU8(0);
}
std::uint16_t MemPtr::asU16(int order) const {
    if (!require(size_ == 2, kCorrectSize)) return 0;
    return getU16(0, order);
}
std::uint32_t MemPtr::asU32(int order) const {
    if (!require(size_ == 4, kCorrectSize)) return 0;
    return getU32(0, order);
}
void MemPtr::setAsU8(std::uint8_t value) {
    if (require(size_ == 1, kCorrectSize)) setU8(0, value);
}
void MemPtr::setAsU16(std::uint16_t value, int order) {
    if (require(size_ == 2, kCorrectSize)) setU16(0, value, order);
}
void MemPtr::setAsU32(std::uint32_t value, int order) {
    if (require(size_ == 4, kCorrectSize)) setU32(0, value, order);
}

bool MemPtr::bitFits(std::uint32_t offset, std::uint8_t mask) const {
    bool fits = offset < size_ || (isBitView() && offset == 0 && mask == mask_);
    return require(fits && data_ != nullptr, kCorrectOffset);
}

bool MemPtr::testBit(std::uint32_t offset, std::uint8_t mask) const {
    if (!bitFits(offset, mask)) return false;
    return (data_[offset] & mask) != 0;
}

void MemPtr::setBit(std::uint32_t offset, std::uint8_t mask, bool on) {
    if (!bitFits(offset, mask)) return;
    if (on)
        data_[offset] = static_cast<std::uint8_t>(data_[offset] | mask);
    else
        data_[offset] = static_cast<std::uint8_t>(data_[offset] & ~mask);
}

bool MemPtr::bitValue() const {
    if (!require(isBitView(), kCorrectMask)) return false;
    return testBit(0, mask_);
}

void MemPtr::setBitValue(bool on) {
    if (require(isBitView(), kCorrectMask)) setBit(0, mask_, on);
}

void MemPtr::toggleBit() {
    if (require(isBitView(), kCorrectMask)) setBit(0, mask_, !testBit(0, mask_));
}

int MemPtr::bitIndex() const {
    if (!require(isBitView(), kCorrectMask)) return 0;
    return std::countr_zero(mask_);
}

void MemPtr::copyFrom(const MemPtr& other) {
    if (!require(size_ == other.size_, kSameSize)) return;
    if (isBitView() != other.isBitView()) {
        failExplicit(kSameSize);
        return;
    }
    if (isBitView())
        setBitValue(other.bitValue());
    else if (size_ != 0)
        std::memmove(data_, other.data_, size_);
}

bool MemPtr::equals(const MemPtr& other) const {
    if (!require(size_ == other.size_, kSameSize)) return false;
    if (isBitView() != other.isBitView()) {
        failExplicit(kSameSize);
        return false;
    }
    if (isBitView()) return bitValue() == other.bitValue();
    return size_ == 0 || std::memcmp(data_, other.data_, size_) == 0;
}

void MemPtr::copyTo(void* destination) const {
    if (size_ != 0) std::memcpy(destination, data_, size_);
}

void MemPtr::fill(std::uint8_t value) {
    if (size_ != 0) std::memset(data_, value, size_);
}

bool MemPtr::isSameView(const MemPtr& other) const {
    failExplicit("unused?");
    return data_ == other.data_ && size_ == other.size_ && mask_ == other.mask_;
}

OwnedMemPtr::OwnedMemPtr(std::uint32_t size, std::uint8_t mask)
    : MemPtr(new std::uint8_t[size == 0 ? 1 : size](), size, mask) {}

// A bit view's bit lives in the byte its size of 0 does not count; copy that byte too.
OwnedMemPtr::OwnedMemPtr(const MemPtr& other)
    : MemPtr(new std::uint8_t[other.size() == 0 ? 1 : other.size()](), other.size(), other.mask()) {
    if (other.size() != 0)
        std::memcpy(data(), other.data(), other.size());
    else if (other.isBitView() && other.data() != nullptr)
        data()[0] = other.data()[0];
}

OwnedMemPtr::~OwnedMemPtr() {
    delete[] data();
}

}  // namespace zq
