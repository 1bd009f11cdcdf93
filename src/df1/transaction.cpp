#include "df1/transaction.h"

#include "df1/command_protocol.h"
#include "df1/commands.h"
#include "df1/crc.h"
#include "support/fail.h"

namespace zq {

const char* txnStateName(TxnState state) {
    switch (state) {
        case TxnState::Idle:
            return "Idle";
        case TxnState::Waiting:
            return "Waiting";
        case TxnState::InProgress:
            return "InProgress";
        case TxnState::Done:
            return "Done";
        case TxnState::ErrorReply:
            return "ErrorReply";
        case TxnState::NoReply:
            return "NoReply";
    }
    return "unknown";
}

Transaction::Transaction(CommandProtocol& protocol, Df1FrameTx& tx, Df1FrameRx& rx,
                         MemPtr requestArea, std::uint8_t opcode)
    : protocol_(protocol),
      tx_(tx),
      rx_(rx),
      opcode_(opcode),
      maxRetries_(kMaxRetries),
      timeoutMs_(kDefaultTimeoutMs),
      requestArea_(requestArea) {}

MemPtr& Transaction::beginRequest(std::uint32_t size) {
    requestView_.assign(requestArea_);
    requestArea_.subView(0, size, requestView_);
    requestView_.fill(0);
    if (size >= 2) requestView_.setU8(0, static_cast<std::uint8_t>(opcode_));
    return requestView_;
}

void Transaction::prepare(std::uint8_t address, bool withCrc) {
    const std::uint32_t size = requestView_.size();
    if (withCrc && require(size >= 2, "correct size")) {
        requestView_.setU16(size - 2, crc16Genibus(requestView_.data(), size - 2), kBigEndian);
    }
    attempts_ = 0;
    state_ = TxnState::Idle;
    replyView_.assign(nullptr, 0);
    tx_.build(address, requestView_.data(), size);
}

void Transaction::start() {
    if (!require(state_ == TxnState::Idle, "!!!")) return;
    state_ = TxnState::Waiting;
    protocol_.transmit(*this);
}

void Transaction::send() {
    rejected_ = false;
    rx_.restart(noAck_, ignoreType7_);
    tx_.send();
    protocol_.observeSend(*this);
    protocol_.armTimer(timeoutMs_);
}

void Transaction::retry() {
    if (++attempts_ > maxRetries_) {
        state_ = TxnState::NoReply;
        return;
    }
    protocol_.transmit(*this);
}

void Transaction::stopTimer() {
    protocol_.cancelTimer();
}

void Transaction::abort() {
    stopTimer();
    state_ = TxnState::NoReply;
}

void Transaction::getReply(MemPtr& dest) {
    require(state_ == TxnState::InProgress || state_ == TxnState::Done, "!!!");
    dest.assign(nullptr, 0);
}

void Transaction::onTimeout() {
    if (state_ >= TxnState::Done) return;
    // Without an acknowledgement the adapter may never have seen the frame (or refused it with
    // DLE NAK): sending it again is always safe. After one, the command decides.
    if (rx_.ackState() == Df1FrameRx::kAcknowledged && !retryAllowed(kRetryTimeout))
        state_ = TxnState::NoReply;
    else
        retry();
}

void Transaction::onReceive() {
    if (rx_.ackState() != Df1FrameRx::kAcknowledged || rx_.result() == Df1FrameRx::kNoFrame) return;
    stopTimer();
    std::uint32_t reason = kRetryBadReply;
    if (rx_.result() == Df1FrameRx::kGoodFrame && takeReply()) {
        rejected_ = replyByte(0) == op::kReject;
        if (rejected_) {
            reason = kRetryRejected;
        } else if (matches()) {
            state_ = replyByte(1) == kStatusOk ? TxnState::Done : TxnState::ErrorReply;
            return;
        }
    }
    if (retryAllowed(reason))
        retry();
    else
        state_ = TxnState::NoReply;
}

bool Transaction::takeReply() {
    rx_.takeMessage(replyView_);
    return crc16GenibusGood(replyView_.data(), replyView_.size());
}

std::uint32_t Transaction::replyU16(std::uint32_t offset) const {
    return replyView_.getU16(offset, kLittleEndian);
}

std::uint32_t Transaction::replyU32(std::uint32_t offset) const {
    return replyView_.getU32(offset, kLittleEndian);
}

void Transaction::replyData(std::uint32_t offset, std::uint32_t length, MemPtr& dest) {
    if (!require(state_ == TxnState::Done, "!!!")) {
        dest.assign(nullptr, 0);
        return;
    }
    if (!replyView_.subView(offset, length, dest)) dest.assign(nullptr, 0);
}

}  // namespace zq
