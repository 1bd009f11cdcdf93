#include "engine/mem_op.h"

#include "df1/command_protocol.h"
#include "support/fail.h"
#include "support/text.h"

namespace zq {

const char* memOpStateName(MemOpState state) {
    switch (state) {
        case MemOpState::Idle:
            return "Idle";
        case MemOpState::Running:
            return "Running";
        case MemOpState::Done:
            return "Done";
        case MemOpState::Failed:
            return "Failed";
        case MemOpState::Aborted:
            return "Aborted";
    }
    return "?";
}

MemOp::MemOp(CommandProtocol& protocol, ImageReader& reader, const PlatformEntry& platform)
    : protocol_(protocol), reader_(reader), platform_(platform) {}

void MemOp::abort() {
    if (state_ == MemOpState::Running) state_ = MemOpState::Aborted;
}

bool MemOp::visits(RangeKind kind) const {
    return (kind == RangeKind::Ram) != flashRanges_;
}

std::size_t MemOp::findNextRange(std::size_t from) const {
    for (std::size_t i = from; i < platform_.ranges.size(); ++i) {
        const MemRange& range = platform_.ranges[i];
        if (!visits(range.kind)) continue;
        std::uint32_t start = 0, size = 0;
        reader_.findRegion(range.start, range.size, start, size, nullptr);
        if (size != 0) return i;
    }
    return kNoRange;
}

bool MemOp::selectBlock(std::size_t index) {
    rangeIndex_ = index;
    const MemRange& range = platform_.ranges[index];
    reader_.findRegion(range.start, range.size, blockStart_, blockLength_, &dataBytes_);
    return require(blockLength_ > 0 && dataBytes_ > 0 && dataBytes_ <= blockLength_,
                   "correct region");
}

std::string MemOp::readFailure(const char* refusedFormat, std::uint32_t address,
                               std::uint32_t length) const {
    if (protocol_.state() == TxnState::ErrorReply || protocol_.rejected())
        return formatText(refusedFormat, address);
    return formatText("Communication error (no reply) while reading %d bytes at 0x%08X",
                      static_cast<int>(length), address);
}

bool MemOp::nextChunk(std::uint8_t* dst, std::uint32_t maxLength, std::uint32_t& address,
                      std::uint32_t& length) {
    address = 0;
    length = 0;
    reader_.readNext(dst, maxLength, address, length);
    const std::uint64_t blockEnd = std::uint64_t{blockStart_} + blockLength_;
    return require(length == 0 || (length <= maxLength && address >= blockStart_ &&
                                   std::uint64_t{address} + length <= blockEnd),
                   "chunk inside block");
}

void MemOp::reset() {
    if (!require(state_ != MemOpState::Running, "expected state")) return;
    state_ = MemOpState::Idle;
    infoText_.clear();
    errorText_.clear();
}

}  // namespace zq
