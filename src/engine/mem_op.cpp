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

void MemOp::reset() {
    if (!require(state_ != MemOpState::Running, "expected state")) return;
    state_ = MemOpState::Idle;
    infoText_.clear();
    errorText_.clear();
}

}  // namespace zq
