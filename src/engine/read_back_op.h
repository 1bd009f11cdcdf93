#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "df1/commands.h"
#include "engine/mem_op.h"

namespace zq {

// A run of module addresses.
struct MemorySpan {
    std::uint32_t address = 0;
    std::uint32_t length = 0;
};

// The blocks of the loaded image that a burn visits (Flash and Aux ranges): per range, from the
// image's first to its last byte there, in the order of the memory map.
std::vector<MemorySpan> imageBlocks(const ImageReader& reader, const PlatformEntry& platform);
// Sorted by address, overlapping and adjoining spans joined: what several images' blocks need
// read once.
std::vector<MemorySpan> joinSpans(std::vector<MemorySpan> spans);

// What a module gave back, in runs of consecutive addresses.
class ModuleMemory {
public:
    void clear() { runs_.clear(); }
    // Bytes at `address`, appended in ascending order of addresses.
    void append(std::uint32_t address, const std::uint8_t* data, std::uint32_t length);
    // False for an address that was never read.
    bool byteAt(std::uint32_t address, std::uint8_t& value) const;

private:
    struct Run {
        std::uint32_t address = 0;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Run> runs_;
};

// How one block of an image compares with the module.
struct RangeComparison {
    std::uint32_t first = 0;  // first and last address of the block
    std::uint32_t last = 0;
    std::uint32_t bytes = 0;        // the image's bytes in it, all compared
    std::uint32_t differences = 0;  // a byte never read counts as different
    std::uint32_t firstDifference = 0;  // meaningful when differences > 0
};

// Every byte of the loaded image's blocks compared with what the module gave.
std::vector<RangeComparison> compareImage(ImageReader& reader, const PlatformEntry& platform,
                                          const ModuleMemory& module);

// Reads spans of a module with READ at the daemon's level, changing nothing: a check of what a
// module holds, for one image or for several at once, each span read once however many images
// lie in it. The spans are set before start(); start's argument is not used.
//
// A daemon that does not serve READ (status 0xFF or REJECT) fails it, naming the address.
class ReadBackOp : public MemOp {
public:
    static constexpr std::uint32_t kChunkSize = kMaxReadData;

    using MemOp::MemOp;

    // Joined spans (joinSpans); set while Idle.
    void setSpans(std::vector<MemorySpan> spans) { spans_ = std::move(spans); }
    void start(bool flashRanges) override;
    void poll() override;
    std::uint8_t progress() const override;
    std::uint64_t bytesDone() const override { return doneBytes_; }

    const ModuleMemory& memory() const { return memory_; }

private:
    void readOn();
    void fail(std::string text);
    void setInfoText();

    std::vector<MemorySpan> spans_;
    ModuleMemory memory_;
    std::size_t spanIndex_ = 0;
    std::uint32_t spanDone_ = 0;  // bytes of the current span read
    std::uint32_t chunkAddress_ = 0;
    std::uint32_t chunkLength_ = 0;
    std::uint64_t totalBytes_ = 0;
    std::uint64_t doneBytes_ = 0;
};

}  // namespace zq
