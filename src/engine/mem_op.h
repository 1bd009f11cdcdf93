#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/platform_list.h"
#include "image/image_reader.h"
#include "support/root_object.h"

namespace zq {

class CommandProtocol;

enum class MemOpState : std::uint32_t {
    Idle = 0,
    Running = 1,
    Done = 2,
    Failed = 3,
    Aborted = 4,
};

const char* memOpStateName(MemOpState state);

// An image with nothing for the ranges an operation visits.
inline constexpr const char* kNoImageData = "Image holds no data for the device's memory map";

// What progress() gives while there is nothing to show a bar for.
inline constexpr std::uint8_t kNoProgress = 255;

// Carries one loaded image into the target, range by range over a platform's memory map. Like
// the engine it never blocks: it sends one command at a time and moves on when poll() is called
// after a protocol event. Used once per connect over the Ram ranges (the daemon upload) and once
// per burn over the Flash and Aux ranges.
class MemOp : public RootObject {
public:
    // None of the three is owned; all must outlive the operation.
    MemOp(CommandProtocol& protocol, ImageReader& reader, const PlatformEntry& platform);
    MemOp(const MemOp&) = delete;
    MemOp& operator=(const MemOp&) = delete;

    // Requires Idle ("expected state"). Afterwards Running, or Failed when the start-up checks
    // refused the image (then no command was sent). flashRanges: a burn (Flash and Aux ranges)
    // rather than a daemon upload (Ram ranges).
    virtual void start(bool flashRanges) = 0;
    // Running becomes Aborted; any other state stays. The protocol is the caller's to abort.
    virtual void abort();
    // Looks at the protocol and advances; does nothing unless Running.
    virtual void poll() = 0;
    // Requires not Running ("expected state"): back to Idle with both texts emptied.
    virtual void reset();
    virtual MemOpState state() const { return state_; }
    virtual const std::string& infoText() const { return infoText_; }
    virtual const std::string& errorText() const { return errorText_; }
    // 0..100 percent, kNoProgress for no progress bar.
    virtual std::uint8_t progress() const = 0;
    // The work done since start(), over all its blocks, in the bytes of burnWork or readWork.
    virtual std::uint64_t bytesDone() const = 0;

protected:
    static constexpr std::size_t kNoRange = static_cast<std::size_t>(-1);

    // A burn or a verify visits the Flash and Aux ranges, a daemon upload the Ram ranges.
    bool visits(RangeKind kind) const;
    // The first range from index `from` on that is visited and holds image data; kNoRange.
    std::size_t findNextRange(std::size_t from) const;
    // Range `index` becomes the current block, from its first to its last image byte. False
    // (a REQUIRE failure) when the reader's answer breaks its promises.
    bool selectBlock(std::size_t index);
    std::uint32_t blockLast() const { return blockStart_ + (blockLength_ - 1); }
    // The next run of the current block from the reader, at most maxLength bytes (length 0 at
    // the block's end). False (a REQUIRE failure) when the reader hands out something outside
    // the block, which would be written or compared elsewhere or not at all.
    // Why a READ of `length` bytes at `address` brought nothing: status 0xFF or REJECT is the
    // daemon's refusal, said with refusedFormat (one %08X for the address); anything else the
    // line's failure.
    std::string readFailure(const char* refusedFormat, std::uint32_t address,
                            std::uint32_t length) const;
    bool nextChunk(std::uint8_t* dst, std::uint32_t maxLength, std::uint32_t& address,
                   std::uint32_t& length);

    CommandProtocol& protocol_;
    ImageReader& reader_;
    const PlatformEntry& platform_;
    MemOpState state_ = MemOpState::Idle;
    std::string infoText_;
    std::string errorText_;
    bool flashRanges_ = false;
    std::size_t rangeIndex_ = 0;
    std::uint32_t blockStart_ = 0;
    std::uint32_t blockLength_ = 0;
    std::uint32_t dataBytes_ = 0;  // the image's bytes in the block
};

}  // namespace zq
