#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "df1/commands.h"
#include "engine/mem_op.h"

namespace zq {

// Reads back from the target, with READ at the daemon's level, every byte of the image in the
// ranges a burn visits, in the same blocks and the same order of runs as the burn wrote them,
// and compares each with the image. A flash that was not really erased, a weak cell or a daemon
// that drops or shifts a chunk shows here, where every WRITE was still acknowledged.
//
// It ends at the first difference (Failed, naming the address and both bytes). A daemon that
// does not serve READ (status 0xFF or REJECT) fails it: what cannot be proven is never
// reported as verified.
class VerifyOp : public MemOp {
public:
    // What one reply can carry.
    static constexpr std::uint32_t kChunkSize = kMaxReadData;

    VerifyOp(CommandProtocol& protocol, ImageReader& reader, const PlatformEntry& platform);

    void start(bool flashRanges) override;
    void poll() override;
    std::uint8_t progress() const override;
    std::uint64_t bytesDone() const override { return totalCompared_; }

private:
    void startBlock(std::size_t index);
    void compareChunk();
    void readOn();
    bool readChunk();
    void fail(std::string text);
    void setInfoText();

    std::array<std::uint8_t, kChunkSize> image_{};
    std::uint32_t chunkAddress_ = 0;
    std::uint32_t chunkLength_ = 0;
    std::uint32_t compared_ = 0;  // in the current block
    std::uint64_t totalCompared_ = 0;
};

}  // namespace zq
