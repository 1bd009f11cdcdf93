#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zq {

// One block of image data: an ELF section or an OMF PEDATA record. length > 0 and the block
// never runs past the top of the 32-bit address space.
struct ImageBlock {
    std::uint32_t address;
    std::uint32_t length;

    std::uint64_t end() const { return std::uint64_t{address} + length; }
};

// The blocks of a loaded image in address order, with the queries both readers answer the same
// way. Walking blocks by address rather than in file order is what keeps a block that a file
// lists out of order from being skipped by a range scan that stops at the first block outside.
class BlockIndex {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // Sorts the blocks by address (equal addresses keep their given order). `ids` travel with
    // them, so a caller can map a sorted position back to its section or record.
    void assign(std::vector<ImageBlock> blocks, std::vector<std::uint32_t> ids);
    void clear();

    std::size_t count() const { return blocks_.size(); }
    const ImageBlock& block(std::size_t i) const { return blocks_[i]; }
    std::uint32_t id(std::size_t i) const { return ids_[i]; }

    // The position of the first block that shares a byte with the block before it; npos when
    // no two blocks overlap.
    std::size_t firstOverlap() const;

    // See ImageReader::findRegion.
    void findRegion(std::uint32_t address, std::uint32_t length, std::uint32_t& start,
                    std::uint32_t& size, std::uint32_t* dataSize) const;
    // The block that starts exactly at address; npos when none does.
    std::size_t blockAt(std::uint32_t address) const;
    // See ImageReader::findBlockAcross.
    bool blockAcross(std::uint32_t boundary, std::uint32_t& start, std::uint32_t& size) const;

private:
    // The first block whose address is not below `address`.
    std::size_t lowerBound(std::uint32_t address) const;

    std::vector<ImageBlock> blocks_;
    std::vector<std::uint32_t> ids_;
};

}  // namespace zq
