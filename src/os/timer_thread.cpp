#include "os/timer_thread.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "support/fail.h"

namespace zq {

TimerThread::TimerThread() : thread_([this] { TimerThreadFnc(); }) {}

TimerThread::~TimerThread() {
    endTimerThread();
}

void TimerThread::start(std::uint32_t ms) {
    bool wake = true;
    {
        std::lock_guard<std::mutex> guard(lock_);
        // One slot, no queue: a second command before the thread took the first is misuse. A
        // period of 0 is refused here too, where the caller is still on the stack.
        // A cancel the thread has not taken yet is superseded: the thread re-arms instead.
        const bool idle = threadCmd_.cmd == kNone && !running_;
        const bool cancelled = threadCmd_.cmd == kStop && cancelPending_;
        if (!require(ms != 0 && (idle || cancelled), "")) return;
        const auto period =
            std::chrono::microseconds(std::uint64_t{ms} * 1000u * scaleMultiplier_ / scaleDivisor_);
        threadCmd_.cmd = kStart;
        threadCmd_.period = ms;
        threadCmd_.due = Clock::now() + std::max(period, std::chrono::microseconds(1));
        cancelPending_ = false;
        noteCancelledExpiry();
        // The thread still waits for a cancelled time: when that ends before the new one, it
        // finds the start then and needs no wake-up now (which would take a processor from the
        // transmit thread that the same request has just woken).
        wake = !(cancelled && threadCmd_.due >= armedDue_);
    }
    if (wake) commandEvent_.notify_one();
}

void TimerThread::stop() {
    std::unique_lock<std::mutex> guard(lock_);
    if (std::this_thread::get_id() == timerThreadId_) {
        // Called from timeout(): nothing is armed, and waiting for this very thread would never
        // end. Only a start made inside this timeout() can be pending.
        if (threadCmd_.cmd == kStart) threadCmd_.cmd = kNone;
        return;
    }
    // A start that the thread has not taken yet is superseded rather than refused: start() does
    // not wait, so a reply can arrive and stop the timer before the thread has even run.
    require(threadCmd_.cmd == kNone || threadCmd_.cmd == kStart || cancelPending_, "");
    acknowledged_ = false;
    cancelPending_ = false;
    threadCmd_.cmd = kStop;
    commandEvent_.notify_one();
    ackEvent_.wait(guard, [this] { return acknowledged_; });
}

void TimerThread::noteCancelledExpiry() {
    // timeout() itself may start the timer again (a retransmission): that is its own decision.
    if (firing_ && std::this_thread::get_id() != timerThreadId_) expiryCancelled_ = true;
}

void TimerThread::cancel() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (threadCmd_.cmd == kQuit) return;
        noteCancelledExpiry();
        if (!running_) {
            if (threadCmd_.cmd == kStart) threadCmd_.cmd = kNone;
            return;
        }
        // The thread learns of it when its time ends, and then does nothing; no wake-up now.
        threadCmd_.cmd = kStop;
        cancelPending_ = true;
    }
}

bool TimerThread::expiryIsCurrent() const {
    std::lock_guard<std::mutex> guard(lock_);
    return !expiryCancelled_;
}

bool TimerThread::isRunning() const {
    std::lock_guard<std::mutex> guard(lock_);
    return running_ && !cancelPending_;
}

void TimerThread::setTimeScale(std::uint32_t multiplier, std::uint32_t divisor) {
    std::lock_guard<std::mutex> guard(lock_);
    scaleMultiplier_ = multiplier;
    scaleDivisor_ = std::max<std::uint32_t>(divisor, 1);
}

void TimerThread::endTimerThread() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        threadCmd_.cmd = kQuit;
    }
    commandEvent_.notify_one();
    thread_.join();
}

void TimerThread::acknowledge() {
    acknowledged_ = true;
    ackEvent_.notify_all();
}

void TimerThread::TimerThreadFnc() {
    std::unique_lock<std::mutex> guard(lock_);
    timerThreadId_ = std::this_thread::get_id();
    for (;;) {
        commandEvent_.wait(guard, [this] { return threadCmd_.cmd != kNone; });
        std::uint32_t cmd = std::exchange(threadCmd_.cmd, kNone);
        switch (cmd) {
            case kStart:
                if (!runArmed(guard)) return;
                break;
            case kStop:
                cancelPending_ = false;
                acknowledge();
                break;
            case kQuit:
                acknowledge();
                return;
            default:
                failExplicit("threadCmd.cmd");
                break;
        }
    }
}

bool TimerThread::runArmed(std::unique_lock<std::mutex>& guard) {
    for (;;) {
        if (!require(threadCmd_.period != 0 && !running_, "")) return true;
        armedDue_ = threadCmd_.due;
        running_ = true;
        bool commanded =
            commandEvent_.wait_until(guard, armedDue_, [this] { return threadCmd_.cmd != kNone; });
        running_ = false;
        if (!commanded) break;
        std::uint32_t cmd = std::exchange(threadCmd_.cmd, kNone);
        // A start after a cancel arms the new time at once.
        if (cmd == kStart) continue;
        require(cmd == kStop || cmd == kQuit, "");
        cancelPending_ = false;
        acknowledge();
        return cmd != kQuit;
    }
    firing_ = true;
    expiryCancelled_ = false;
    // Without the lock, so that timeout() may start the timer again, and stop() may wait for it.
    guard.unlock();
    timeout();
    guard.lock();
    firing_ = false;
    expiryCancelled_ = false;
    return true;
}

}  // namespace zq
