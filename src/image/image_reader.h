#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/byte_source.h"
#include "support/root_object.h"

namespace zq {

// Entry-symbol names shared by both readers: the ELF toolchain's "_start" and the C166
// startup module's "?C_STARTUP".
inline constexpr const char* kEntrySymbolNames[] = {"_start", "?C_STARTUP"};
inline constexpr const char* kElfEntrySymbol = kEntrySymbolNames[0];
inline constexpr const char* kOmfEntrySymbol = kEntrySymbolNames[1];

// An executable image as a set of address ranges with their bytes and an entry address.
// One object per loaded file; `load` may be repeated and then starts from scratch.
//
// The image's data come in blocks (ELF sections, OMF PEDATA records). After a successful load
// the blocks are sorted by address and no two of them overlap, so every loaded byte belongs to
// exactly one block.
class ImageReader : public RootObject {
public:
    // Parses the image that `source` delivers (read from its start). False on any format error,
    // with errorText() set. requireEntry: the entry symbol must exist (daemon images).
    virtual bool load(ByteSource& source, bool requireEntry) = 0;
    // The message of the last failed load (Czech without diacritics).
    virtual const std::string& errorText() const = 0;
    // The span of image data whose blocks lie wholly inside [address, address + length): from
    // the first such block, over the following ones while they lie wholly inside. start and
    // size give the span (size 0: none); dataSize, when asked for, the bytes actually present
    // (holes between blocks count in size only). A range that runs past the top of the
    // address space is cut there.
    virtual void findRegion(std::uint32_t address, std::uint32_t length, std::uint32_t& start,
                            std::uint32_t& size, std::uint32_t* dataSize) const = 0;
    // The entry symbol's address; meaningful only when hasEntry().
    virtual std::uint32_t entryAddress() const = 0;
    // Starts a sequential read of the data from `address`, which must be the first byte of a
    // block, up to the end of the range [address, address + length).
    virtual void beginRead(std::uint32_t address, std::uint32_t length) = 0;
    // The next piece of the sequential read, at most maxLength bytes into dst; length 0 (and
    // address 0) when the range holds no more data. A block that starts inside the range is
    // delivered to its end.
    virtual void readNext(std::uint8_t* dst, std::uint32_t maxLength, std::uint32_t& address,
                          std::uint32_t& length) = 0;

    // Whether the last load found the entry symbol (whether or not it was required).
    virtual bool hasEntry() const = 0;
    // The block that holds both the byte before `boundary` and the byte at it, if any: such a
    // block lies wholly inside neither side of the boundary, so findRegion never reports it
    // on either side.
    virtual bool findBlockAcross(std::uint32_t boundary, std::uint32_t& start,
                                 std::uint32_t& size) const = 0;
};

// The processor family of a platform identifier: its top four bits (0x1 XC167, 0x2 MPC8270,
// 0x3 MPC5554).
inline constexpr std::uint32_t platformFamily(std::uint32_t plID) {
    return plID >> 28;
}

// The reader for a platform's family: OMF-166 for XC167, ELF for the PowerPC families; none for
// an unknown family.
std::unique_ptr<ImageReader> createImageReader(std::uint32_t plID);

}  // namespace zq
