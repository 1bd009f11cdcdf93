#include "os/notifications.h"

namespace zq {

namespace {

// Posting holds this lock, so that replacing the poster waits for a worker that is still inside
// the old one's post(); the front-end can then destroy the old poster safely.
std::mutex posterLock;
NotificationPoster* processPoster = nullptr;

}  // namespace

NotificationPoster* installNotificationPoster(NotificationPoster* poster) {
    std::lock_guard<std::mutex> guard(posterLock);
    NotificationPoster* previous = processPoster;
    processPoster = poster;
    return previous;
}

NotificationPoster* notificationPoster() {
    std::lock_guard<std::mutex> guard(posterLock);
    return processPoster;
}

void postNotification(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) {
    std::lock_guard<std::mutex> guard(posterLock);
    if (processPoster != nullptr) processPoster->post({message, wParam, lParam});
}

void postRxData(std::uint32_t count) {
    postNotification(WM_COM_RXDATA, static_cast<std::intptr_t>(count));
}

void postComError(std::intptr_t code) {
    postNotification(WM_COM_ERROR, code);
}

void postTimeout() {
    postNotification(WM_COM_TIMEOUT, 0);
}

void NotificationQueue::post(const Notification& notification) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        queue_.push_back(notification);
    }
    posted_.notify_one();
}

std::optional<Notification> NotificationQueue::take() {
    std::lock_guard<std::mutex> guard(lock_);
    if (queue_.empty()) return std::nullopt;
    Notification first = queue_.front();
    queue_.pop_front();
    return first;
}

std::optional<Notification> NotificationQueue::waitFor(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> guard(lock_);
    if (!posted_.wait_for(guard, limit, [this] { return !queue_.empty(); })) return std::nullopt;
    Notification first = queue_.front();
    queue_.pop_front();
    return first;
}

Notification NotificationQueue::wait() {
    std::unique_lock<std::mutex> guard(lock_);
    posted_.wait(guard, [this] { return !queue_.empty(); });
    Notification first = queue_.front();
    queue_.pop_front();
    return first;
}

std::size_t NotificationQueue::size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return queue_.size();
}

}  // namespace zq
