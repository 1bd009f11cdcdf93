#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "df1/commands.h"
#include "engine/mem_op.h"

namespace zq {

// Reads back from the target, with READ at the daemon's level, every byte of the image in the
// ranges a burn visits, in the same blocks and the same order of runs as the burn wrote them,
// and compares each with the image. A flash that was not really erased, a weak cell or a daemon
// that drops or shifts a chunk shows here, where every WRITE was still acknowledged.
//
// After a burn it ends at the first difference (Failed, naming the address and both bytes);
// for a check of a module that is not to be changed, countAll reads on and counts them per
// range. A daemon that does not serve READ (status 0xFF or REJECT) fails it: what cannot be
// proven is never reported as verified.
class VerifyOp : public MemOp {
public:
    // What one reply can carry.
    static constexpr std::uint32_t kChunkSize = kMaxReadData;

    struct RangeResult {
        std::uint32_t first = 0;  // the block: first and last image byte of the range
        std::uint32_t last = 0;
        std::uint32_t bytes = 0;  // image bytes compared
        std::uint32_t differences = 0;
        std::uint32_t firstDifference = 0;  // valid when differences > 0
    };

    VerifyOp(CommandProtocol& protocol, ImageReader& reader, const PlatformEntry& platform);

    // Read on past differences and count them (Done at the end whatever they are), rather than
    // fail at the first. Set while Idle.
    void setCountAll(bool countAll) { countAll_ = countAll; }
    void start(bool flashRanges) override;
    void poll() override;
    std::uint8_t progress() const override;

    // One entry per block compared so far, in the order of the memory map.
    const std::vector<RangeResult>& results() const { return results_; }
    std::uint64_t bytesRead() const { return totalRead_; }

private:
    void startBlock(std::size_t index);
    void compareChunk();
    void readOn();
    bool readChunk();
    void fail(std::string text);
    void setInfoText();

    std::array<std::uint8_t, kChunkSize> image_{};
    bool countAll_ = false;
    std::uint32_t chunkAddress_ = 0;
    std::uint32_t chunkLength_ = 0;
    std::uint32_t compared_ = 0;  // in the current block
    std::uint64_t totalRead_ = 0;
    std::vector<RangeResult> results_;
};

}  // namespace zq
