#include "os/comport.h"

#include <cstring>
#include <utility>

#include "os/notifications.h"
#include "support/fail.h"
#include "support/vyjimka.h"

namespace zq {

namespace {

constexpr std::uint32_t kFlushMs = 200;
constexpr std::uint32_t kDeadlock = kStrDeadlock - kExceptionStringBase;  // "Deadlock! (%s)"

}  // namespace

ComPort::ComPort(std::string port, std::uint32_t baudRate)
    : portName_(std::move(port)), baudRate_(baudRate), native_(createNative(portName_)) {
    txThread_ = std::thread([this] { txThreadFnc(); });
}

ComPort::~ComPort() {
    endTimerThread();
    endRxThread();
    endTxThread();
    closePort();
}

void ComPort::endRxThread() {
    if (!rxThread_.joinable()) return;
    rxStop_ = true;
    wakeRx();
    // Every wait of the receive thread is either woken by wakeRx or limited (the lock), so
    // this returns.
    rxThread_.join();
}

void ComPort::endTxThread() {
    if (!txThread_.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(txLock_);
        txStop_ = true;
    }
    txEvent_.notify_all();
    wakeTx();
    txThread_.join();
}

void ComPort::send(const std::uint8_t* data, std::uint32_t length) {
    std::unique_lock<std::mutex> guard(txLock_);
    // One block in flight: a second one waits until the first is written (or the transmitter
    // has ended, so that a send after a failure cannot hang the caller).
    txEvent_.wait(guard, [this] { return !txRequest_ || txEnded_; });
    if (txEnded_) {
        // After a transmit failure the owner learns of it by WM_COM_ERROR -2; after stopTx
        // nothing may be sent any more.
        require(!txStoppedByOwner_, "expected state");
        return;
    }
    txData_ = data;
    txLength_ = length;
    txRequest_ = true;
    guard.unlock();
    txEvent_.notify_all();
}

void ComPort::txThreadFnc() {
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(txLock_);
            txEvent_.wait(guard, [this] { return txRequest_ || txStop_; });
            if (txStop_) break;
        }
        bool failed = false;
        writing_ = true;
        try {
            writeBlock();
        } catch (CVyjimka* e) {
            reportException(e);
            e->release();
            clearLineErrors();
            txStop_ = true;
            failed = true;
        }
        writing_ = false;
        if (failed) postComError(kComErrorTxThread);
        {
            std::lock_guard<std::mutex> guard(txLock_);
            txRequest_ = false;
            if (!failed) txData_ = nullptr;
        }
        txEvent_.notify_all();
        if (failed) break;
    }
    {
        std::lock_guard<std::mutex> guard(txLock_);
        txEnded_ = true;
    }
    txEvent_.notify_all();
}

void ComPort::stopTx() {
    {
        std::lock_guard<std::mutex> guard(txLock_);
        txStop_ = true;
        txStoppedByOwner_ = true;
    }
    txEvent_.notify_all();
    wakeTx();
    {
        std::unique_lock<std::mutex> guard(txLock_);
        if (!txEvent_.wait_for(guard, stopLimit_, [this] { return txEnded_; }))
            throw new CVyjimkaN(kDeadlock, "ComPort::stopTx()");
    }
    if (txThread_.joinable()) txThread_.join();
    clearLineErrors();
    std::lock_guard<std::mutex> guard(txLock_);
    txData_ = nullptr;
    txLength_ = 0;
    txStop_ = false;
}

bool ComPort::isWriting() {
    return writing_;
}

void ComPort::startRx(std::uint8_t* buffer, std::uint32_t length, RxMode mode) {
    // A second receive thread would read into the same buffer as the first.
    if (!require(!rxThread_.joinable(), "expected state")) return;
    if (!require(buffer != nullptr || length == 0, "correct size")) return;
    rxBuffer_ = buffer;
    rxWanted_ = length;
    rxMode_ = mode;
    rxStop_ = false;
    {
        std::lock_guard<std::mutex> guard(rxEndLock_);
        rxEnded_ = false;
    }
    if (mode == RxMode::CompleteOrFlush) start(kFlushMs);
    rxThread_ = std::thread([this] { rxThreadFnc(); });
}

void ComPort::rxThreadFnc() {
    try {
        {
            std::unique_lock<TimedMutex> guard(lock_, lockLimit_);
            if (!guard.owns_lock()) throw new CVyjimkaN(kDeadlock, "ComPort::rxThreadFnc() 0");
            rxReported_ = 0;
            rxCount_ = 0;
            rxWrite_ = rxBuffer_;
        }
        receiveLoop();
    } catch (CVyjimka* e) {
        reportException(e);
        e->release();
        postComError(kComErrorRxThread);
    }
    {
        std::lock_guard<std::mutex> guard(rxEndLock_);
        rxEnded_ = true;
    }
    rxEndedEvent_.notify_all();
}

void ComPort::storeReceived(std::uint32_t n) {
    rxCount_ += n;
    rxWrite_ += n;
    if (rxCount_ == rxWanted_) {
        switch (rxMode_) {
            case RxMode::OnComplete:
                postRxData(rxWanted_);
                break;
            case RxMode::EveryChunk:
                postRxData(n);
                break;
            case RxMode::CompleteOrFlush:
                postRxData(rxWanted_ - rxReported_);
                rxReported_ = rxCount_;
                break;
        }
    } else if (rxMode_ == RxMode::EveryChunk) {
        postRxData(n);
    }
}

void ComPort::resetRx() {
    std::unique_lock<TimedMutex> guard(lock_, lockLimit_);
    if (!guard.owns_lock()) throw new CVyjimkaN(kDeadlock, "ComPort::rxThreadFnc() 1");
    rxWrite_ = rxBuffer_;
    rxCount_ = 0;
    rxReported_ = 0;
}

void ComPort::discardRx(std::uint32_t count) {
    std::unique_lock<TimedMutex> guard(lock_, lockLimit_);
    if (!guard.owns_lock()) throw new CVyjimkaN(kDeadlock, "ComPort::discardRx()");
    if (!require(count <= rxCount_, "correct size")) count = rxCount_;
    // Both receive loops store bytes only while holding lock_, so nothing is written into the
    // buffer while the rest moves down.
    const std::uint32_t kept = rxCount_ - count;
    if (kept > 0) std::memmove(rxBuffer_, rxBuffer_ + count, kept);
    rxCount_ = kept;
    rxWrite_ = rxBuffer_ + kept;
    rxReported_ = rxReported_ > count ? rxReported_ - count : 0;
}

std::uint32_t ComPort::receivedCount() {
    std::unique_lock<TimedMutex> guard(lock_, lockLimit_);
    if (!guard.owns_lock()) throw new CVyjimkaN(kDeadlock, "ComPort::receivedCount()");
    return rxCount_;
}

void ComPort::stopRx() {
    if (rxBuffer_ == nullptr) return;
    // Unconditionally: a flush timer started by startRx may not be armed yet, and would
    // otherwise fire after the reception has ended.
    stop();
    rxStop_ = true;
    wakeRx();
    {
        std::unique_lock<std::mutex> guard(rxEndLock_);
        if (!rxEndedEvent_.wait_for(guard, stopLimit_, [this] { return rxEnded_; }))
            throw new CVyjimkaN(kDeadlock, "ComPort::stopRx()");
    }
    rxThread_.join();
    clearLineErrors();
    rxBuffer_ = nullptr;
    rxWanted_ = 0;
    rxStop_ = false;
}

void ComPort::timeout() {
    if (!require(rxMode_ == RxMode::CompleteOrFlush, "expected state")) return;
    // This runs on the timer thread, where nobody would catch a throw: the failure goes the
    // way of a failed receive thread.
    try {
        std::unique_lock<TimedMutex> guard(lock_, lockLimit_);
        if (!guard.owns_lock()) throw new CVyjimkaN(kDeadlock, "ComPort::timeout()");
        if (rxReported_ < rxCount_) {
            postRxData(rxCount_ - rxReported_);
            rxReported_ = rxCount_;
        }
    } catch (CVyjimka* e) {
        reportException(e);
        e->release();
        postComError(kComErrorRxThread);
    }
}

}  // namespace zq
