#pragma once

#include <cstdint>

#include "support/root_object.h"

namespace zq {

// Byte-order flag of every multi-byte accessor: 0 = big-endian, anything else = little-endian.
inline constexpr int kBigEndian = 0;
inline constexpr int kLittleEndian = 1;

inline constexpr std::uint8_t kByteMask = 0xFF;

// A guarded, non-owning view of bytes (mask 0xFF) or of one bit of one byte (a single-bit mask,
// size 0). Every access is checked; a failed check is reported through fail() and the access
// is then skipped (reads give 0), so a broken caller never reads or writes outside the view.
class MemPtr : public RootObject {
public:
    MemPtr() = default;
    MemPtr(std::uint8_t* data, std::uint32_t size, std::uint8_t mask = kByteMask);
    MemPtr(const MemPtr&) = default;
    MemPtr& operator=(const MemPtr&) = default;

    std::uint8_t* data() const { return data_; }
    std::uint32_t size() const { return size_; }
    std::uint8_t mask() const { return mask_; }
    bool isBitView() const { return mask_ != kByteMask; }

    void assign(std::uint8_t* data, std::uint32_t size, std::uint8_t mask = kByteMask);
    void assign(const MemPtr& other);

    bool subView(std::uint32_t offset, std::uint32_t length, MemPtr& dest,
                 std::uint8_t mask = kByteMask) const;
    MemPtr subView(std::uint32_t offset, std::uint32_t length, std::uint8_t mask = kByteMask) const;

    std::uint8_t getU8(std::uint32_t offset) const;
    std::uint16_t getU16(std::uint32_t offset, int order) const;
    std::uint32_t getU24(std::uint32_t offset, int order) const;
    std::uint32_t getU32(std::uint32_t offset, int order) const;
    std::uint64_t getU64(std::uint32_t offset, int order) const;

    void setU8(std::uint32_t offset, std::uint8_t value);
    void setU16(std::uint32_t offset, std::uint16_t value, int order);
    void setU24(std::uint32_t offset, std::uint32_t value, int order);
    void setU32(std::uint32_t offset, std::uint32_t value, int order);
    void setU64(std::uint32_t offset, std::uint64_t value, int order);

    void copyIn(std::uint32_t offset, const void* source, std::uint32_t count);

    std::uint8_t asU8() const;
    std::uint16_t asU16(int order) const;
    std::uint32_t asU32(int order) const;
    void setAsU8(std::uint8_t value);
    void setAsU16(std::uint16_t value, int order);
    void setAsU32(std::uint32_t value, int order);

    bool testBit(std::uint32_t offset, std::uint8_t mask) const;
    void setBit(std::uint32_t offset, std::uint8_t mask, bool on);
    bool bitValue() const;
    void setBitValue(bool on);
    void toggleBit();
    int bitIndex() const;

    void copyFrom(const MemPtr& other);
    bool equals(const MemPtr& other) const;
    void copyTo(void* destination) const;
    void fill(std::uint8_t value);

    // Identity of two views. Nothing should need it, so a call is reported ("unused?").
    bool isSameView(const MemPtr& other) const;

private:
    bool fieldFits(std::uint32_t offset, std::uint32_t width) const;
    bool bitFits(std::uint32_t offset, std::uint8_t mask) const;
    std::uint64_t getField(std::uint32_t offset, std::uint32_t width, int order) const;
    void setField(std::uint32_t offset, std::uint32_t width, std::uint64_t value, int order);

    std::uint8_t* data_ = nullptr;
    std::uint32_t size_ = 0;
    std::uint8_t mask_ = kByteMask;
};

// A view that owns its storage: max(size, 1) zeroed bytes.
class OwnedMemPtr : public MemPtr {
public:
    explicit OwnedMemPtr(std::uint32_t size, std::uint8_t mask = kByteMask);
    OwnedMemPtr(const OwnedMemPtr& other) : OwnedMemPtr(static_cast<const MemPtr&>(other)) {}
    explicit OwnedMemPtr(const MemPtr& other);
    OwnedMemPtr& operator=(const OwnedMemPtr&) = delete;
    ~OwnedMemPtr() override;
};

}  // namespace zq
