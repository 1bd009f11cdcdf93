#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
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

// A poster that holds its one post until released.
class GatePoster : public NotificationPoster {
public:
    void post(const Notification&) override {
        inside.set_value();
        released.get_future().wait();
        finished = true;
    }
    std::promise<void> inside, released;
    std::atomic<bool> finished{false};
};

TEST(Notifications, ReplacingThePosterWaitsForAPostInProgress) {
    GatePoster gate;
    NotificationPoster* before = installNotificationPoster(&gate);
    std::thread worker([] { postTimeout(); });
    gate.inside.get_future().wait();
    std::atomic<bool> finishedWhenReplaced{false};
    std::thread frontEnd([&] {
        installNotificationPoster(before);
        finishedWhenReplaced = gate.finished.load();
    });
    std::this_thread::sleep_for(10ms);
    gate.released.set_value();
    frontEnd.join();
    worker.join();
    EXPECT_TRUE(finishedWhenReplaced) << "the old poster could have been destroyed mid-post";
}

}  // namespace
}  // namespace zq
