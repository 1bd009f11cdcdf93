#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zq {

// A mutex whose lock can give up after a limit: the serial port and the command protocol wait
// at most 500 ms for their locks and report a miss as a deadlock. Meets the standard Lockable
// and TimedLockable requirements, so std::unique_lock works with it.
//
// Built on a plain mutex and a condition variable rather than std::timed_mutex: libstdc++
// implements the latter's timed lock with pthread_mutex_clocklock, which the ThreadSanitizer of
// GCC 12 does not intercept, so every such lock would be reported as a race.
class TimedMutex {
public:
    TimedMutex() = default;
    TimedMutex(const TimedMutex&) = delete;
    TimedMutex& operator=(const TimedMutex&) = delete;

    void lock() {
        std::unique_lock<std::mutex> guard(mutex_);
        released_.wait(guard, [this] { return !held_; });
        held_ = true;
    }

    bool try_lock() {
        std::lock_guard<std::mutex> guard(mutex_);
        if (held_) return false;
        held_ = true;
        return true;
    }

    template <class Rep, class Period>
    bool try_lock_for(const std::chrono::duration<Rep, Period>& limit) {
        std::unique_lock<std::mutex> guard(mutex_);
        if (!released_.wait_for(guard, limit, [this] { return !held_; })) return false;
        held_ = true;
        return true;
    }

    void unlock() {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            held_ = false;
        }
        released_.notify_one();
    }

private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool held_ = false;
};

}  // namespace zq
