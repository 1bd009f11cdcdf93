#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace zq {

// The three notifications by which the worker threads (serial receive and transmit, the timer
// threads) reach the main loop. The values are those of the Windows messages WM_USER + 1..3, so
// the Win32 front-end posts them unchanged.
inline constexpr std::uint32_t WM_COM_RXDATA = 1025;   // wParam: bytes just stored
inline constexpr std::uint32_t WM_COM_ERROR = 1026;    // wParam: line-error bits, or -1 / -2
inline constexpr std::uint32_t WM_COM_TIMEOUT = 1027;  // wParam: 0

// WM_COM_ERROR codes other than line-error bits: the worker left its text in the pending
// message (reportException) before posting.
inline constexpr std::intptr_t kComErrorRxThread = -1;  // the receive thread ended on an error
inline constexpr std::intptr_t kComErrorTxThread = -2;  // transmission failed

// Line-error bits of WM_COM_ERROR, with the values and meanings of the Windows CE_ flags.
inline constexpr std::uint32_t kLineErrorRxOver = 0x0001;   // CE_RXOVER: input buffer overflow
inline constexpr std::uint32_t kLineErrorOverrun = 0x0002;  // CE_OVERRUN: character lost
inline constexpr std::uint32_t kLineErrorParity = 0x0004;   // CE_RXPARITY
inline constexpr std::uint32_t kLineErrorFrame = 0x0008;    // CE_FRAME
inline constexpr std::uint32_t kLineErrorBreak = 0x0010;    // CE_BREAK

struct Notification {
    std::uint32_t message = 0;
    std::intptr_t wParam = 0;
    std::intptr_t lParam = 0;

    bool operator==(const Notification&) const = default;
};

// Where the workers' notifications go. Each front-end installs one: the Windows window posts a
// window message, the Qt window a queued event, the terminal and the tests a NotificationQueue.
// post() is called on worker threads, must not block for long and must never call back into the
// poster's callers (the serial port posts while it holds its receive lock).
class NotificationPoster {
public:
    virtual ~NotificationPoster() = default;
    virtual void post(const Notification& notification) = 0;
};

// Installs the process-wide poster (nullptr: notifications are dropped) and returns the one it
// replaces. When it returns, no post() to the replaced poster is still running, so that poster
// may be destroyed.
NotificationPoster* installNotificationPoster(NotificationPoster* poster);
NotificationPoster* notificationPoster();

// Post through the process-wide poster, in posting order.
void postNotification(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam = 0);
void postRxData(std::uint32_t count);
void postComError(std::intptr_t code);
void postTimeout();

// A thread-safe first-in first-out queue of notifications, drained by one consumer thread.
class NotificationQueue : public NotificationPoster {
public:
    void post(const Notification& notification) override;

    // The oldest notification, if one is queued; never waits.
    std::optional<Notification> take();
    // The oldest notification, waiting at most limit for one to arrive.
    std::optional<Notification> waitFor(std::chrono::milliseconds limit);
    // The oldest notification, waiting as long as it takes.
    Notification wait();

    std::size_t size() const;

private:
    mutable std::mutex lock_;
    std::condition_variable posted_;
    std::deque<Notification> queue_;
};

// Installs a poster for the lifetime of a scope and restores the previous one afterwards.
class ScopedNotificationPoster {
public:
    explicit ScopedNotificationPoster(NotificationPoster& poster)
        : previous_(installNotificationPoster(&poster)) {}
    ~ScopedNotificationPoster() { installNotificationPoster(previous_); }
    ScopedNotificationPoster(const ScopedNotificationPoster&) = delete;
    ScopedNotificationPoster& operator=(const ScopedNotificationPoster&) = delete;

private:
    NotificationPoster* previous_;
};

}  // namespace zq
