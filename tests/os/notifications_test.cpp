#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "os/notifications.h"

namespace zq {
namespace {

using namespace std::chrono_literals;

TEST(Notifications, InstallingIsScopedAndWithoutPosterNothingIsDelivered) {
    NotificationQueue outer, inner;
    EXPECT_EQ(notificationPoster(), nullptr);
    postTimeout();  // dropped, harmlessly
    {
        ScopedNotificationPoster a(outer);
        {
            ScopedNotificationPoster b(inner);
            EXPECT_EQ(notificationPoster(), &inner);
            postRxData(1);
        }
        EXPECT_EQ(notificationPoster(), &outer);
        postRxData(2);
    }
    EXPECT_EQ(notificationPoster(), nullptr);
    EXPECT_EQ(inner.take(), (Notification{WM_COM_RXDATA, 1, 0}));
    EXPECT_EQ(outer.take(), (Notification{WM_COM_RXDATA, 2, 0}));
    EXPECT_EQ(outer.size() + inner.size(), 0u);
    EXPECT_EQ(outer.waitFor(1ms), std::nullopt);
}

TEST(Notifications, DeliveryOrderIsPostingOrderAcrossThreads) {
    NotificationQueue queue;
    ScopedNotificationPoster installed(queue);
    constexpr int kEach = 5000;
    std::vector<std::thread> workers;
    for (std::uint32_t message : {WM_COM_RXDATA, WM_COM_ERROR, WM_COM_TIMEOUT})
        workers.emplace_back([message] {
            for (int i = 0; i < kEach; ++i) postNotification(message, i);
        });
    std::intptr_t next[3] = {0, 0, 0};
    for (int received = 0; received < 3 * kEach; ++received) {
        auto n = queue.waitFor(10s);
        ASSERT_TRUE(n.has_value());
        std::intptr_t& expected = next[n->message - WM_COM_RXDATA];
        ASSERT_EQ(n->wParam, expected) << "message " << n->message;
        ++expected;
    }
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(queue.size(), 0u);
}

// A poster that holds each post until released.
class GatePoster : public NotificationPoster {
public:
    void post(const Notification&) override {
        std::unique_lock<std::mutex> guard(lock_);
        inside = true;
        changed_.notify_all();
        changed_.wait(guard, [this] { return released; });
        finished = true;
    }
    void waitInside() {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [this] { return inside; });
    }
    void release() {
        std::lock_guard<std::mutex> guard(lock_);
        released = true;
        changed_.notify_all();
    }
    bool hasFinished() {
        std::lock_guard<std::mutex> guard(lock_);
        return finished;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool inside = false, released = false, finished = false;
};

TEST(Notifications, ReplacingThePosterWaitsForAPostInProgress) {
    GatePoster gate;
    NotificationPoster* before = installNotificationPoster(&gate);
    std::thread worker([] { postTimeout(); });
    gate.waitInside();
    std::atomic<bool> finishedWhenReplaced{false};
    std::thread frontEnd([&] {
        installNotificationPoster(before);
        finishedWhenReplaced = gate.hasFinished();
    });
    std::this_thread::sleep_for(10ms);
    gate.release();
    frontEnd.join();
    worker.join();
    EXPECT_TRUE(finishedWhenReplaced) << "the old poster could have been destroyed mid-post";
}

}  // namespace
}  // namespace zq
