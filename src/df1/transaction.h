#pragma once

#include <cstdint>

#include "df1/df1_frame.h"
#include "support/mem_ptr.h"

namespace zq {

class CommandProtocol;

// Where an exchange stands, as the programming engine reads it.
enum class TxnState : std::uint32_t {
    Idle = 0,        // nothing started yet
    Waiting = 1,     // request sent, no final answer yet
    InProgress = 2,  // ERASE only: a progress reply below 100 % came
    Done = 3,        // the matching reply came with status 1
    ErrorReply = 4,  // the matching reply came with another status
    NoReply = 5,     // no usable reply: retries used up or refused, stalled erase, aborted
};

const char* txnStateName(TxnState state);

// Why a retransmission is considered (the argument of retryAllowed).
enum RetryReason : std::uint32_t {
    kRetryTimeout = 0,   // the time-out expired after the request was acknowledged
    kRetryBadReply = 1,  // a bad frame, a message with a bad CRC, or one that does not match
    kRetryRejected = 2,  // the target answered REJECT
};

// One kind of request with its reply matching, retries and time-out. The protocol creates one
// of each kind and reuses it; at most one runs at a time. Every operation but set-up runs under
// the protocol's lock, on the GUI thread or (onTimeout) on the protocol's timer thread.
class Transaction {
public:
    Transaction(CommandProtocol& protocol, Df1FrameTx& tx, Df1FrameRx& rx, MemPtr requestArea,
                std::uint8_t opcode);
    virtual ~Transaction() = default;
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // The message in replyView answers this request.
    virtual bool matches() const = 0;
    virtual bool retryAllowed(std::uint32_t reason) const = 0;
    virtual void start();
    virtual void abort();
    virtual void getReply(MemPtr& dest);
    virtual void onTimeout();
    virtual void onReceive();

    TxnState state() const { return state_; }
    std::uint32_t attempts() const { return attempts_; }
    // The answer to the last transmission was REJECT: the target does not serve the command.
    bool rejected() const { return rejected_; }

    // One transmission: restart the receiver, send the frame built at set-up, arm the time-out.
    void send();

protected:
    // Set-up: points the request view at the shared area, size bytes (the CRC included), with
    // the opcode and a status of 0 written.
    MemPtr& beginRequest(std::uint32_t size);
    // Appends the CRC (unless the request has none), resets the attempts and builds the frame
    // that every transmission sends.
    void prepare(std::uint8_t address = kAddressTarget, bool withCrc = true);
    void retry();
    // Takes the received message into replyView; true when its CRC checks.
    bool takeReply();
    std::uint32_t replySize() const { return replyView_.size(); }
    std::uint8_t replyByte(std::uint32_t offset) const { return replyView_.getU8(offset); }
    std::uint32_t replyU16(std::uint32_t offset) const;
    std::uint32_t replyU32(std::uint32_t offset) const;
    // The reply's data from offset to its CRC, for getReply; requires the state Done.
    void replyData(std::uint32_t offset, std::uint32_t length, MemPtr& dest);
    void stopTimer();

    CommandProtocol& protocol_;
    Df1FrameTx& tx_;
    Df1FrameRx& rx_;
    std::uint32_t opcode_;
    std::uint32_t attempts_ = 0;
    bool rejected_ = false;
    std::uint32_t maxRetries_;
    std::uint32_t timeoutMs_;
    bool noAck_ = false;
    bool ignoreType7_ = true;
    TxnState state_ = TxnState::Idle;
    MemPtr replyView_;
    MemPtr requestView_;

private:
    MemPtr requestArea_;
};

}  // namespace zq
