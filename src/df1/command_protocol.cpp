#include "df1/command_protocol.h"

#include <mutex>
#include <utility>

#include "df1/transactions.h"
#include "os/notifications.h"
#include "support/fail.h"
#include "support/vyjimka.h"

namespace zq {

CommandProtocol::CommandProtocol(Df1FrameTx& tx, Df1FrameRx& rx, const ProtocolOptions& options)
    : lockLimit_(options.lockLimit), tx_(tx), rx_(rx) {
    timer_.setTimeScale(options.timeScaleMultiplier, options.timeScaleDivisor);
    MemPtr area(requestArea_.data(), kRequestAreaSize);
    connect_ = std::make_unique<ConnectTxn>(*this, tx, rx, area);
    erase_ = std::make_unique<EraseTxn>(*this, tx, rx, area);
    uploadInit_ = std::make_unique<UploadInitTxn>(*this, tx, rx, area);
    write_ = std::make_unique<WriteTxn>(*this, tx, rx, area);
    read_ = std::make_unique<ReadTxn>(*this, tx, rx, area);
    idRead_ = std::make_unique<IdReadTxn>(*this, tx, rx, area);
    exec_ = std::make_unique<ExecTxn>(*this, tx, rx, area);
    command7_ = std::make_unique<Command7Txn>(*this, tx, rx, area);
    idSearch_ = std::make_unique<IdSearchTxn>(*this, tx, rx, area);
    channel_ = std::make_unique<ChannelTxn>(*this, tx, rx, area);
}

CommandProtocol::~CommandProtocol() = default;

CommandProtocol::Guard CommandProtocol::lockOrReport() {
    Guard guard(lock_, lockLimit_);
    if (!guard.owns_lock()) failExplicit("deadlock");
    return guard;
}

// --- requests --------------------------------------------------------------------------------

template <class Setup>
void CommandProtocol::request(Transaction& txn, Setup&& setup) {
    Guard guard = lockOrReport();
    if (!guard) return;
    // Checked before the set-up: the set-up rewrites the frame that a running exchange resends.
    if (!require(current_ == nullptr, "!!!")) return;
    setup();
    current_ = &txn;
    lastState_ = TxnState::Waiting;
    lastReply_.assign(nullptr, 0);
    lastRejected_ = false;
    txn.start();
}

void CommandProtocol::connect(std::uint8_t level) {
    request(*connect_, [&] { connect_->setup(level); });
}

void CommandProtocol::erase(std::uint32_t address, std::uint32_t length, std::uint32_t timeoutMs) {
    request(*erase_, [&] { erase_->setup(address, length, timeoutMs); });
}

void CommandProtocol::uploadInit(std::uint32_t address, std::uint32_t length) {
    request(*uploadInit_, [&] { uploadInit_->setup(address, length); });
}

void CommandProtocol::write(std::uint32_t address, std::uint32_t length, const std::uint8_t* data,
                            std::uint32_t timeoutMs) {
    if (!require(length <= kMaxWriteData && (data != nullptr || length == 0), "correct size"))
        return;
    request(*write_,
            [&] { write_->setup(address, static_cast<std::uint16_t>(length), data, timeoutMs); });
}

void CommandProtocol::read(std::uint32_t address, std::uint32_t length) {
    // A longer answer would not fit the receiver's payload area: it could never come through.
    if (!require(length <= kMaxReadData, "correct size")) return;
    request(*read_, [&] { read_->setup(address, static_cast<std::uint16_t>(length)); });
}

void CommandProtocol::idRead(const std::uint8_t* chipId, std::uint8_t offset, std::uint8_t count) {
    if (!require(chipId != nullptr, "correct size")) return;
    request(*idRead_, [&] { idRead_->setup(chipId, offset, count); });
}

void CommandProtocol::exec(std::uint32_t address) {
    request(*exec_, [&] { exec_->setup(address); });
}

void CommandProtocol::command7() {
    request(*command7_, [&] { command7_->setup(); });
}

void CommandProtocol::idSearch(std::uint8_t selector) {
    request(*idSearch_, [&] { idSearch_->setup(selector); });
}

void CommandProtocol::switchChannel(std::uint32_t channel) {
    // The adapter has two channels; any other value would put an unknown selector byte on the
    // line, which the adapter answers with silence until the time-outs run out.
    if (!require(channel <= 1, "correct channel")) return;
    request(*channel_, [&] { channel_->setup(channel); });
}

void CommandProtocol::setObserver(WireObserver* observer) {
    Guard guard(lock_, lockLimit_);
    if (!guard.owns_lock()) {
        failExplicit("deadlock");
        return;
    }
    observer_ = observer;
}

// --- events ----------------------------------------------------------------------------------

void CommandProtocol::onSerialEvent(std::uint32_t kind, std::uint32_t count) {
    {
        // Nothing is lost on a miss: the next announcement scans these bytes too.
        Guard guard = lockOrReport();
        if (!guard) return;
        // The receiver is scanned under the lock, because a retransmission on the timer thread
        // restarts it.
        const RxSnapshot before = rxSnapshot();
        if (kind == kBytesArrived)
            rx_.onBytes(count);
        else if (kind == kLineError)
            rx_.onLineError();
        observeReceive(before);
        if (current_ != nullptr && lastState_ < TxnState::Done) {
            current_->onReceive();
            settle();
        }
    }
}

void CommandProtocol::expireNow() {
    timer_.stop();
    onTimeout(false);
}

void CommandProtocol::onTimeout(bool fromTimer) {
    bool handled = false;
    bool failed = false;
    {
        Guard guard = lockOrReport();
        if (!guard) return;
        // A reply or an abort that got the lock first has cancelled this time-out already, and
        // perhaps a new one is armed: the expiry is stale, and the request it belonged to must
        // not go out again.
        if (!timerArmed_ || (fromTimer && !timer_.expiryIsCurrent())) return;
        timerArmed_ = false;
        if (current_ == nullptr || lastState_ >= TxnState::Done) return;
        // Nobody on this thread could catch a serial-port error: it goes the way of a failed
        // receive thread, and the exchange ends.
        if (observer_ != nullptr) observer_->timeout(current_->attempts());
        try {
            current_->onTimeout();
        } catch (CVyjimka* e) {
            reportException(e);
            e->release();
            current_->abort();
            failed = true;
        }
        settle();
        handled = true;
    }
    if (failed)
        postComError(kComErrorRxThread);
    else if (handled)
        postTimeout();
}

void CommandProtocol::abort() {
    {
        Guard guard = lockOrReport();
        if (!guard) return;
        if (current_ != nullptr && lastState_ < TxnState::Done) {
            current_->abort();
            lastState_ = current_->state();
            if (observer_ != nullptr) observer_->exchangeEnded(lastState_);
            current_ = nullptr;
        }
    }
}

TxnState CommandProtocol::state() {
    Guard guard = lockOrReport();
    if (!guard) return TxnState::Waiting;
    return current_ != nullptr ? current_->state() : lastState_;
}

bool CommandProtocol::rejected() {
    Guard guard = lockOrReport();
    if (!guard) return false;
    return current_ != nullptr ? current_->rejected() : lastRejected_;
}

std::uint32_t CommandProtocol::armedPeriodMs() {
    Guard guard = lockOrReport();
    return guard ? armedPeriodMs_ : 0;
}

void CommandProtocol::reply(MemPtr& dest) {
    Guard guard = lockOrReport();
    if (!guard) {
        dest.assign(nullptr, 0);
        return;
    }
    if (current_ != nullptr)
        current_->getReply(dest);
    else
        dest.assign(lastReply_);
}

void CommandProtocol::settle() {
    const TxnState state = current_->state();
    if (state < TxnState::Done) return;
    lastState_ = state;
    if (observer_ != nullptr) observer_->exchangeEnded(state);
    if (state == TxnState::Done) current_->getReply(lastReply_);
    lastRejected_ = current_->rejected();
    current_ = nullptr;
    // An exchange that has ended needs no time-out, whichever way it ended.
    cancelTimer();
}

// --- the timer -------------------------------------------------------------------------------
//
// The timer thread's timeout() waits for the lock, so nothing here waits for the timer thread
// while holding it: a time-out is cancelled without waiting, and an expiry that was already
// under way when it was cancelled (or re-armed) finds out in timeout() and does nothing. So the
// next request goes out without a round trip to the timer thread between a reply and it.

void CommandProtocol::transmit(Transaction& txn) {
    if (txn.attempts() > 0) ++retransmissions_;
    txn.send();
}

void CommandProtocol::armTimer(std::uint32_t ms) {
    timerArmed_ = true;
    armedPeriodMs_ = ms;
    timer_.start(ms);
}

void CommandProtocol::cancelTimer() {
    if (!timerArmed_) return;
    timerArmed_ = false;
    timer_.cancel();
}

// --- the observer ----------------------------------------------------------------------------

void CommandProtocol::observeSend(const Transaction& txn) {
    if (observer_ != nullptr) observer_->frameOut(tx_.frame(), tx_.frameLength(), txn.attempts());
}

CommandProtocol::RxSnapshot CommandProtocol::rxSnapshot() const {
    return {rx_.scanned(), rx_.ackState(), rx_.result(), rx_.counters()};
}

void CommandProtocol::observeReceive(const RxSnapshot& before) {
    if (observer_ == nullptr) return;
    if (rx_.scanned() > before.scanned)
        observer_->bytesIn(rx_.received() + before.scanned, rx_.scanned() - before.scanned);
    if (rx_.ackState() != before.ackState && rx_.ackState() != Df1FrameRx::kAwaitingAck)
        observer_->acknowledgement(rx_.ackState() == Df1FrameRx::kRefused);
    const Df1FrameRx::Counters& now = rx_.counters();
    const char* fault = now.crcErrors != before.counters.crcErrors       ? "CRC error"
                        : now.badPackets != before.counters.badPackets   ? "bad packet"
                        : now.badEscapes != before.counters.badEscapes   ? "bad DLE escape"
                        : now.shortFrames != before.counters.shortFrames ? "short frame"
                        : now.skippedType7 != before.counters.skippedType7
                            ? "adapter packet skipped"
                        : now.lineErrors != before.counters.lineErrors ? "line error"
                                                                        : nullptr;
    if (rx_.result() == Df1FrameRx::kGoodFrame && before.result != Df1FrameRx::kGoodFrame) {
        MemPtr message;
        rx_.takeMessage(message);
        observer_->frameIn(message.data(), message.size(), nullptr);
    } else if (fault != nullptr) {
        observer_->frameIn(nullptr, 0, fault);
    }
}

}  // namespace zq
