#include "engine/mem_op.h"

#include "support/fail.h"

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

void MemOp::reset() {
    if (!require(state_ != MemOpState::Running, "expected state")) return;
    state_ = MemOpState::Idle;
    infoText_.clear();
    errorText_.clear();
}

}  // namespace zq
