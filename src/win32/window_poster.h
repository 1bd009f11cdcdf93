#pragma once

#include <windows.h>

#include <atomic>

#include "os/notifications.h"

namespace zq::win32 {

// Delivers the workers' notifications as window messages (WM_USER + 1..3) posted to the main
// window, so that they arrive in the window's message queue like any other input, also inside
// the nested loop of a modal message box. PostMessageW never waits for the window: a full
// queue or a window that is gone makes the post fail, and the notification is dropped.
class WindowPoster : public NotificationPoster {
public:
    explicit WindowPoster(HWND window) : window_(window) {}

    void post(const Notification& notification) override;

    // Posts that failed (a full queue or a window that is gone).
    unsigned long failedPosts() const { return failed_.load(); }

private:
    HWND window_;
    std::atomic<unsigned long> failed_{0};
};

}  // namespace zq::win32
