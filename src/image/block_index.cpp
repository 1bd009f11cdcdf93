#include "image/block_index.h"

#include <algorithm>
#include <numeric>

namespace zq {

void BlockIndex::assign(std::vector<ImageBlock> blocks, std::vector<std::uint32_t> ids) {
    std::vector<std::size_t> order(blocks.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return blocks[a].address < blocks[b].address;
    });
    blocks_.clear();
    ids_.clear();
    blocks_.reserve(order.size());
    ids_.reserve(order.size());
    for (std::size_t i : order) {
        blocks_.push_back(blocks[i]);
        ids_.push_back(i < ids.size() ? ids[i] : static_cast<std::uint32_t>(i));
    }
}

void BlockIndex::clear() {
    blocks_.clear();
    ids_.clear();
}

std::size_t BlockIndex::firstOverlap() const {
    for (std::size_t i = 1; i < blocks_.size(); ++i)
        if (blocks_[i - 1].end() > blocks_[i].address) return i;
    return npos;
}

std::size_t BlockIndex::lowerBound(std::uint32_t address) const {
    auto it = std::lower_bound(
        blocks_.begin(), blocks_.end(), address,
        [](const ImageBlock& block, std::uint32_t a) { return block.address < a; });
    return static_cast<std::size_t>(it - blocks_.begin());
}

void BlockIndex::findRegion(std::uint32_t address, std::uint32_t length, std::uint32_t& start,
                            std::uint32_t& size, std::uint32_t* dataSize) const {
    start = 0;
    size = 0;
    if (dataSize != nullptr) *dataSize = 0;
    if (length == 0) return;
    // One past the last address of the range, cut at the top of the address space.
    const std::uint64_t limit =
        std::min<std::uint64_t>(std::uint64_t{address} + length, std::uint64_t{1} << 32);
    // Blocks are sorted and disjoint, so their ends ascend too: the run of blocks lying wholly
    // inside the range is contiguous in the index and begins at the first block not below it.
    std::size_t i = lowerBound(address);
    std::uint64_t end = 0;
    std::uint32_t bytes = 0;
    for (; i < blocks_.size() && blocks_[i].end() <= limit; ++i) {
        if (end == 0) start = blocks_[i].address;
        end = blocks_[i].end();
        bytes += blocks_[i].length;
    }
    if (end == 0) return;
    size = static_cast<std::uint32_t>(end - start);
    if (dataSize != nullptr) *dataSize = bytes;
}

std::size_t BlockIndex::blockAt(std::uint32_t address) const {
    std::size_t i = lowerBound(address);
    return i < blocks_.size() && blocks_[i].address == address ? i : npos;
}

bool BlockIndex::blockAcross(std::uint32_t boundary, std::uint32_t& start,
                             std::uint32_t& size) const {
    start = 0;
    size = 0;
    std::size_t i = lowerBound(boundary);
    if (i == 0) return false;
    const ImageBlock& before = blocks_[i - 1];
    if (before.end() <= boundary) return false;
    start = before.address;
    size = before.length;
    return true;
}

}  // namespace zq
