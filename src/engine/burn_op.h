#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/mem_op.h"

namespace zq {

// Erase (Flash ranges only) and write: per range of the map that the operation visits and that
// holds image data, one block from the first to the last image byte in the range, started by
// ERASE then UPLOADINIT (Flash) or UPLOADINIT alone (Aux, and Ram in a daemon upload), then
// WRITEs of at most 496 bytes in the order in which the reader delivers them. Blocks go in the
// order of the memory map.
//
// It never reports Done for less than the whole image: before any command the fit checks
// (checkImageFit, the same as `zidavuvorud-cli info` reports) refuse an image with bytes that
// no visited range would carry, and at the end the bytes written must add up to every loadable
// byte of the image.
class BurnOp : public MemOp {
public:
    static constexpr std::uint32_t kChunkSize = 496;

    BurnOp(CommandProtocol& protocol, ImageReader& reader, const PlatformEntry& platform);

    void start(bool flashRanges) override;
    void poll() override;
    std::uint8_t progress() const override;

    // The loadable bytes of the image, and those written so far over all blocks.
    std::uint64_t imageBytes() const { return imageBytes_; }
    std::uint64_t bytesWritten() const { return totalWritten_; }
    // Erased blocks count their length, the erase under way its share by the daemon's percent.
    std::uint64_t bytesDone() const override;

private:
    enum SubStep : std::uint32_t { kErasing = 1, kPreparing = 2, kWriting = 3 };

    bool selectRange(std::size_t index);
    void startBlock();
    void advance();
    bool readChunk();
    void sendChunk();
    void endBlock();
    void fail(std::string text);
    void failIncomplete();
    void setInfoText();
    std::string activity() const;

    std::array<std::uint8_t, kChunkSize> buffer_{};
    std::uint32_t subStep_ = 0;
    std::uint32_t chunkAddress_ = 0xFFFFFFFFu;
    std::uint16_t chunkLength_ = 0;
    std::uint32_t written_ = 0;
    std::uint8_t progress_ = 0;
    std::uint64_t imageBytes_ = 0;
    std::uint64_t totalWritten_ = 0;
    std::uint64_t erased_ = 0;
};

// Every loadable byte of a loaded image, wherever it lies.
std::uint64_t imageDataBytes(const ImageReader& reader);

}  // namespace zq
