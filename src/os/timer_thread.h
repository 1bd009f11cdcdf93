#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace zq {

// A one-shot millisecond timer with a thread of its own for the object's whole lifetime. An
// object that needs a time-out derives from it and overrides timeout(), which runs on the timer
// thread when an armed time expires. The owner and the thread talk through a one-slot command
// record (threadCmd): start() writes a command and returns at once; stop() and the destructor
// wait for the thread to carry theirs out.
//
// Contract failures (REQUIRE with an empty label): start() while armed or while a command is
// still pending, a start with a period of 0, stop() while another stop is pending.
class TimerThread {
public:
    TimerThread();
    virtual ~TimerThread();
    TimerThread(const TimerThread&) = delete;
    TimerThread& operator=(const TimerThread&) = delete;

    // Arms the timer for ms milliseconds, counted from this call. Does not wait for the thread,
    // so it may be called from inside timeout() for another time-out.
    void start(std::uint32_t ms);

    // Disarms the timer. On return nothing is armed and no timeout() call is running; a start
    // that the thread has not taken yet is cancelled with it. Must not be called while holding
    // a lock that timeout() takes. From inside timeout() it cancels a start made there.
    void stop();

    // Disarms the timer without waiting for the thread, so that it may be called under a lock
    // that timeout() takes: a start the thread has not taken yet is dropped, an armed time is
    // abandoned, and start() may follow at once. A timeout() that has already begun still runs;
    // it learns from expiryIsCurrent() that nobody wants it any more.
    void cancel();

    // For timeout(): false when another thread has cancelled or started the timer since this
    // expiry began, so that nobody wants it any more. An owner that cancels under a lock that
    // timeout() takes tells a stale expiry by it.
    bool expiryIsCurrent() const;

    // True while the thread waits for an armed time that nobody cancelled (false during
    // timeout()).
    bool isRunning() const;

    // Runs on the timer thread, once per start() whose time expired.
    virtual void timeout() = 0;

    // A seam for tests: every period is multiplied by multiplier / divisor (at least 1 us), so
    // that time-outs of seconds can be exercised in milliseconds. The program never calls it.
    void setTimeScale(std::uint32_t multiplier, std::uint32_t divisor);

protected:
    // Ends the timer thread without calling timeout(), disarming an armed timer. A derived class
    // calls it first thing in its destructor, so that the thread can no longer call timeout()
    // on a half-destroyed object; the base destructor calls it again, harmlessly.
    void endTimerThread();

private:
    enum Command : std::uint32_t { kNone = 0, kStart = 1, kStop = 2, kQuit = 3 };

    using Clock = std::chrono::steady_clock;
    struct ThreadCmd {
        std::uint32_t cmd = kNone;
        std::uint32_t period = 0;
        Clock::time_point due;  // of a start: counted from the call
    };

    void TimerThreadFnc();
    // Waits for the armed time or a command; false when the thread is to quit.
    bool runArmed(std::unique_lock<std::mutex>& guard);
    void acknowledge();
    // Under lock_, in start() and cancel().
    void noteCancelledExpiry();

    mutable std::mutex lock_;
    std::condition_variable commandEvent_;
    std::condition_variable ackEvent_;
    ThreadCmd threadCmd_;
    bool acknowledged_ = false;
    bool running_ = false;
    bool cancelPending_ = false;    // the stop in threadCmd came from cancel(): nobody waits
    Clock::time_point armedDue_;    // while running_
    bool firing_ = false;           // timeout() runs
    bool expiryCancelled_ = false;  // ... and another thread has cancelled or started since
    std::uint32_t scaleMultiplier_ = 1;
    std::uint32_t scaleDivisor_ = 1;
    std::thread::id timerThreadId_;
    std::thread thread_;  // last: started once everything above is initialised
};

}  // namespace zq
