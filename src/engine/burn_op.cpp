#include "engine/burn_op.h"

#include <algorithm>

#include "df1/command_protocol.h"
#include "engine/image_fit.h"
#include "support/fail.h"
#include "support/text.h"

namespace zq {

namespace {

constexpr const char* kIncomplete = "Image data not fully written (%llu B of %llu B)";

constexpr std::uint32_t kHalfSpace = 0x80000000u;

unsigned long long ull(std::uint64_t value) {
    return static_cast<unsigned long long>(value);
}

}  // namespace

std::uint64_t imageDataBytes(const ImageReader& reader) {
    // findRegion counts blocks that lie wholly inside the range asked about, and no range of 32
    // bits spans the whole address space: two halves, and the block across the middle if any.
    std::uint32_t start = 0, size = 0, low = 0, high = 0;
    reader.findRegion(0, kHalfSpace, start, size, &low);
    reader.findRegion(kHalfSpace, kHalfSpace, start, size, &high);
    std::uint64_t total = std::uint64_t{low} + high;
    if (reader.findBlockAcross(kHalfSpace, start, size)) total += size;
    return total;
}

BurnOp::BurnOp(CommandProtocol& protocol, ImageReader& reader, const PlatformEntry& platform)
    : MemOp(protocol, reader, platform) {}

void BurnOp::start(bool flashRanges) {
    if (!require(state_ == MemOpState::Idle, "expected state")) return;
    flashRanges_ = flashRanges;
    totalWritten_ = 0;
    erased_ = 0;
    imageBytes_ = 0;
    std::string refusal = checkImageFit(reader_, platform_, flashRanges);
    if (!refusal.empty()) return fail(std::move(refusal));
    imageBytes_ = imageDataBytes(reader_);
    const std::size_t first = findNextRange(0);
    // Nothing to write is no success: the operator would take an empty burn for a done one.
    if (first == kNoRange) return fail(kNoImageData);
    state_ = MemOpState::Running;
    if (selectRange(first)) startBlock();
    setInfoText();
}

bool BurnOp::selectRange(std::size_t index) {
    chunkAddress_ = 0xFFFFFFFFu;
    chunkLength_ = 0;
    written_ = 0;
    progress_ = 0;
    if (selectBlock(index)) return true;
    failIncomplete();
    return false;
}

void BurnOp::startBlock() {
    const MemRange& range = platform_.ranges[rangeIndex_];
    if (range.kind == RangeKind::Flash) {
        subStep_ = kErasing;
        progress_ = 0;
        protocol_.erase(blockStart_, blockLength_, range.eraseTimeoutMs);
    } else {
        subStep_ = kPreparing;
        progress_ = kNoProgress;
        protocol_.uploadInit(blockStart_, blockLength_);
    }
}

void BurnOp::poll() {
    if (state_ != MemOpState::Running) return;
    switch (protocol_.state()) {
        case TxnState::InProgress: {
            MemPtr reply;
            protocol_.reply(reply);
            if (reply.size() >= 1) progress_ = std::min<std::uint8_t>(reply.getU8(0), 100);
            break;
        }
        case TxnState::Done:
            advance();
            setInfoText();
            break;
        case TxnState::ErrorReply:
            fail(formatText("Error while %s", activity().c_str()));
            break;
        case TxnState::NoReply:
            fail(formatText("Communication error (no reply) while %s", activity().c_str()));
            break;
        case TxnState::Idle:
        case TxnState::Waiting:
            break;
    }
}

void BurnOp::advance() {
    switch (subStep_) {
        case kErasing:
            erased_ += blockLength_;
            subStep_ = kPreparing;
            progress_ = kNoProgress;
            protocol_.uploadInit(blockStart_, blockLength_);
            break;
        case kPreparing:
            subStep_ = kWriting;
            progress_ = 0;
            reader_.beginRead(blockStart_, blockLength_);
            if (!readChunk()) return;
            if (!require(chunkLength_ > 0, "data at block start")) return failIncomplete();
            sendChunk();
            break;
        case kWriting:
            written_ += chunkLength_;
            totalWritten_ += chunkLength_;
            // 64 bits: a block of a 128 MiB range times 100 does not fit 32.
            progress_ = static_cast<std::uint8_t>(
                std::min<std::uint64_t>(std::uint64_t{written_} * 100 / dataBytes_, 100));
            if (!readChunk()) return;
            if (chunkLength_ > 0)
                sendChunk();
            else
                endBlock();
            break;
        default:
            require(false, "expected state");
            break;
    }
}

// The next piece of the block; false (and the operation failed) when it is not the block's.
bool BurnOp::readChunk() {
    std::uint32_t address = 0, length = 0;
    if (!nextChunk(buffer_.data(), kChunkSize, address, length)) {
        failIncomplete();
        return false;
    }
    chunkAddress_ = length == 0 ? 0xFFFFFFFFu : address;
    chunkLength_ = static_cast<std::uint16_t>(length);
    return true;
}

void BurnOp::sendChunk() {
    protocol_.write(chunkAddress_, chunkLength_, buffer_.data(),
                    platform_.ranges[rangeIndex_].writeTimeoutMs);
}

void BurnOp::endBlock() {
    if (!require(written_ == dataBytes_, "all bytes loaded")) return failIncomplete();
    const std::size_t next = findNextRange(rangeIndex_ + 1);
    if (next != kNoRange) {
        if (selectRange(next)) startBlock();
        return;
    }
    if (totalWritten_ != imageBytes_) return failIncomplete();
    state_ = MemOpState::Done;
}

void BurnOp::fail(std::string text) {
    state_ = MemOpState::Failed;
    errorText_ = std::move(text);
    setInfoText();
}

void BurnOp::failIncomplete() {
    fail(formatText(kIncomplete, ull(totalWritten_), ull(imageBytes_)));
}

std::string BurnOp::activity() const {
    switch (subStep_) {
        case kErasing:
            return formatText("erasing memory range 0x%08X - 0x%08X", blockStart_, blockLast());
        case kPreparing:
            return "performing UPLOADINIT command";
        default:
            return formatText("writing %d bytes to 0x%08X", chunkLength_, chunkAddress_);
    }
}

void BurnOp::setInfoText() {
    infoText_.clear();
    if (state_ != MemOpState::Running) return;
    const std::uint32_t last = blockLast();
    switch (subStep_) {
        case kErasing:
            infoText_ = formatText("Erasing memory range 0x%08X - 0x%08X", blockStart_, last);
            break;
        case kPreparing:
            infoText_ =
                formatText("Preparing for writing memory range 0x%08X - 0x%08X", blockStart_, last);
            break;
        default:
            infoText_ = formatText("Writing memory range 0x%08X - 0x%08X (%d B)", blockStart_, last,
                                   static_cast<int>(dataBytes_ - written_));
            break;
    }
}

std::uint8_t BurnOp::progress() const {
    switch (state_) {
        case MemOpState::Running:
            return progress_;
        case MemOpState::Done:
            return 100;
        default:
            return kNoProgress;
    }
}

std::uint64_t BurnOp::bytesDone() const {
    std::uint64_t done = erased_ + totalWritten_;
    if (state_ == MemOpState::Running && subStep_ == kErasing)
        done += std::uint64_t{blockLength_} * progress_ / 100;
    return done;
}

}  // namespace zq
