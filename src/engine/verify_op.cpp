#include "engine/verify_op.h"

#include <algorithm>

#include "df1/command_protocol.h"
#include "engine/image_fit.h"
#include "support/fail.h"
#include "support/text.h"

namespace zq {

namespace {

constexpr const char* kNoData = "Image holds no data for the device's memory map";
constexpr const char* kRefused = "Verify not possible: the daemon refused READ at 0x%08X";

}  // namespace

VerifyOp::VerifyOp(CommandProtocol& protocol, ImageReader& reader, const PlatformEntry& platform)
    : MemOp(protocol, reader, platform) {}

void VerifyOp::start(bool flashRanges) {
    if (!require(state_ == MemOpState::Idle, "expected state")) return;
    flashRanges_ = flashRanges;
    totalRead_ = 0;
    results_.clear();
    std::string refusal = checkImageFit(reader_, platform_, flashRanges);
    if (!refusal.empty()) return fail(std::move(refusal));
    const std::size_t first = findNextRange(0);
    if (first == kNoRange) return fail(kNoData);
    state_ = MemOpState::Running;
    startBlock(first);
    setInfoText();
}

void VerifyOp::startBlock(std::size_t index) {
    compared_ = 0;
    if (!selectBlock(index)) return fail("Image data not fully verified");
    results_.push_back({blockStart_, blockLast(), dataBytes_, 0, 0});
    reader_.beginRead(blockStart_, blockLength_);
    if (!readChunk()) return;
    if (!require(chunkLength_ > 0, "data at block start"))
        return fail("Image data not fully verified");
    protocol_.read(chunkAddress_, chunkLength_);
}

void VerifyOp::poll() {
    if (state_ != MemOpState::Running) return;
    switch (protocol_.state()) {
        case TxnState::Done:
            compareChunk();
            if (state_ == MemOpState::Running) readOn();
            setInfoText();
            break;
        case TxnState::ErrorReply:
            // READ's only other status is 0xFF: the daemon has nothing to give.
            fail(formatText(kRefused, chunkAddress_));
            break;
        case TxnState::NoReply:
            if (protocol_.rejected())
                fail(formatText(kRefused, chunkAddress_));
            else
                fail(formatText("Communication error (no reply) while reading %d bytes at 0x%08X",
                                static_cast<int>(chunkLength_), chunkAddress_));
            break;
        case TxnState::Idle:
        case TxnState::Waiting:
        case TxnState::InProgress:
            break;
    }
}

void VerifyOp::compareChunk() {
    MemPtr module;
    protocol_.reply(module);
    if (!require(module.size() == chunkLength_, "correct size"))
        return fail(formatText("Communication error (no reply) while reading %d bytes at 0x%08X",
                               static_cast<int>(chunkLength_), chunkAddress_));
    RangeResult& range = results_.back();
    for (std::uint32_t i = 0; i < chunkLength_; ++i) {
        const std::uint8_t held = module.getU8(i);
        if (held == image_[i]) continue;
        if (!countAll_)
            return fail(formatText("Verify failed at 0x%08X: image 0x%02X, module 0x%02X",
                                   chunkAddress_ + i, image_[i], held));
        if (range.differences++ == 0) range.firstDifference = chunkAddress_ + i;
    }
    compared_ += chunkLength_;
    totalRead_ += chunkLength_;
}

void VerifyOp::readOn() {
    if (!readChunk()) return;
    if (chunkLength_ > 0) return protocol_.read(chunkAddress_, chunkLength_);
    if (!require(compared_ == dataBytes_, "all bytes read"))
        return fail("Image data not fully verified");
    const std::size_t next = findNextRange(rangeIndex_ + 1);
    if (next != kNoRange) return startBlock(next);
    state_ = MemOpState::Done;
}

// The next run of the block, as the burn wrote it; false (and failed) when the reader hands
// out something outside the block.
bool VerifyOp::readChunk() {
    std::uint32_t address = 0, length = 0;
    reader_.readNext(image_.data(), kChunkSize, address, length);
    const std::uint64_t blockEnd = std::uint64_t{blockStart_} + blockLength_;
    if (!require(length == 0 || (length <= kChunkSize && address >= blockStart_ &&
                                 std::uint64_t{address} + length <= blockEnd),
                 "chunk inside block")) {
        fail("Image data not fully verified");
        return false;
    }
    chunkAddress_ = address;
    chunkLength_ = length;
    return true;
}

void VerifyOp::fail(std::string text) {
    state_ = MemOpState::Failed;
    errorText_ = std::move(text);
    setInfoText();
}

void VerifyOp::setInfoText() {
    infoText_.clear();
    if (state_ != MemOpState::Running) return;
    infoText_ = formatText("Verifying memory range 0x%08X - 0x%08X (%d B)", blockStart_,
                           blockLast(), static_cast<int>(dataBytes_ - compared_));
}

std::uint8_t VerifyOp::progress() const {
    switch (state_) {
        case MemOpState::Running:
            return static_cast<std::uint8_t>(
                std::min<std::uint64_t>(std::uint64_t{compared_} * 100 / dataBytes_, 100));
        case MemOpState::Done:
            return 100;
        default:
            return kNoProgress;
    }
}

}  // namespace zq
