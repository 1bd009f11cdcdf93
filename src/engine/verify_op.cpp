#include "engine/verify_op.h"

#include <algorithm>

#include "df1/command_protocol.h"
#include "engine/image_fit.h"
#include "support/fail.h"
#include "support/text.h"

namespace zq {

namespace {

constexpr const char* kRefused = "Verify not possible: the daemon refused READ at 0x%08X";

}  // namespace

VerifyOp::VerifyOp(CommandProtocol& protocol, ImageReader& reader, const PlatformEntry& platform)
    : MemOp(protocol, reader, platform) {}

void VerifyOp::start(bool flashRanges) {
    if (!require(state_ == MemOpState::Idle, "expected state")) return;
    flashRanges_ = flashRanges;
    totalCompared_ = 0;
    std::string refusal = checkImageFit(reader_, platform_, flashRanges);
    if (!refusal.empty()) return fail(std::move(refusal));
    const std::size_t first = findNextRange(0);
    if (first == kNoRange) return fail(kNoImageData);
    state_ = MemOpState::Running;
    startBlock(first);
    setInfoText();
}

void VerifyOp::startBlock(std::size_t index) {
    compared_ = 0;
    if (!selectBlock(index)) return fail("Image data not fully verified");
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
        case TxnState::NoReply:
            fail(readFailure(kRefused, chunkAddress_, chunkLength_));
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
        return fail(readFailure(kRefused, chunkAddress_, chunkLength_));
    for (std::uint32_t i = 0; i < chunkLength_; ++i) {
        const std::uint8_t held = module.getU8(i);
        if (held != image_[i])
            return fail(formatText("Verify failed at 0x%08X: image 0x%02X, module 0x%02X",
                                   chunkAddress_ + i, image_[i], held));
    }
    compared_ += chunkLength_;
    totalCompared_ += chunkLength_;
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

// The next run of the block, as the burn wrote it; false (and failed) when it is not the
// block's.
bool VerifyOp::readChunk() {
    std::uint32_t address = 0, length = 0;
    if (!nextChunk(image_.data(), kChunkSize, address, length)) {
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
