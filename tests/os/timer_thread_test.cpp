#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "common/recording_failure_handler.h"
#include "os/timer_thread.h"

namespace zq {
namespace {

using testing::require;
using testing::takeFailures;
using Failures = std::vector<testing::RecordedFailure>;
using namespace std::chrono_literals;

// Generous bound for waits on another thread; a passing run never comes near it.
constexpr auto kPatience = 10s;

// Counts its time-outs; the action, set before the first start, runs inside each.
class CountingTimer : public TimerThread {
public:
    ~CountingTimer() override { endTimerThread(); }

    void timeout() override {
        if (action) action();
        ++count;
    }

    bool waitForCount(int n) {
        for (auto due = std::chrono::steady_clock::now() + kPatience; count < n;) {
            if (std::chrono::steady_clock::now() > due) return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    std::function<void()> action;
    std::atomic<int> count{0};
};

class TimerThreadTest : public testing::ContractTest {};

TEST_F(TimerThreadTest, ExpiresOnceOnItsOwnThreadAfterTheScaledPeriod) {
    CountingTimer timer;
    std::thread::id thread;  // read once the count has come
    bool runningInside = true;
    timer.action = [&] {
        thread = std::this_thread::get_id();
        runningInside = timer.isRunning();
    };
    timer.setTimeScale(1, 1000);
    timer.start(20000);  // 20 ms: well inside the patience, which 20 s would exceed
    ASSERT_TRUE(timer.waitForCount(1));
    EXPECT_NE(thread, std::this_thread::get_id());
    EXPECT_FALSE(runningInside) << "not running while timeout() runs";
    EXPECT_FALSE(timer.isRunning());
    // One-shot: the thread is back to waiting for a command, so a new start is no misuse.
    timer.start(5000000);
    timer.stop();
    EXPECT_EQ(timer.count, 1);
}

TEST_F(TimerThreadTest, StopDisarmsWithoutATimeoutAndMisuseIsAContractFailure) {
    CountingTimer timer;
    timer.stop();  // nothing armed: returns after the thread's acknowledgement
    timer.start(5000);
    timer.stop();
    EXPECT_FALSE(timer.isRunning());
    // Again once the thread has surely armed it.
    timer.start(5000);
    while (!timer.isRunning()) std::this_thread::yield();
    timer.stop();
    EXPECT_FALSE(timer.isRunning());
    EXPECT_EQ(timer.count, 0);

    timer.start(5000);
    timer.start(5000);  // pending or armed: either way one slot is taken
    EXPECT_EQ(takeFailures(), (Failures{require("")}));
    timer.stop();

    timer.start(0);
    EXPECT_EQ(takeFailures(), (Failures{require("")})) << "a period of 0";
    EXPECT_EQ(timer.count, 0);
}

// From inside timeout(), a start arms again and a stop cancels a start made there, without
// waiting for the thread that runs it.
TEST_F(TimerThreadTest, StartAndStopFromInsideTimeout) {
    CountingTimer timer;
    std::atomic<int> restarts{2};
    timer.action = [&] {
        timer.start(5);
        if (restarts.fetch_sub(1) <= 0) timer.stop();
    };
    timer.start(5);
    ASSERT_TRUE(timer.waitForCount(3));
    timer.stop();
    EXPECT_EQ(timer.count, 3);
    EXPECT_FALSE(timer.isRunning());
}

TEST_F(TimerThreadTest, StopWaitsForARunningTimeout) {
    CountingTimer timer;
    std::promise<void> entered, released;
    timer.action = [&] {
        entered.set_value();
        released.get_future().wait();
    };
    timer.start(1);
    ASSERT_EQ(entered.get_future().wait_for(kPatience), std::future_status::ready);
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        timer.stop();
        stopped = true;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(stopped) << "stop() returned while timeout() was still running";
    released.set_value();
    stopper.join();
    EXPECT_EQ(timer.count, 1);
}

TEST_F(TimerThreadTest, CancelDisarmsWithoutWaitingAndAnExpiryItOvertakesIsStale) {
    CountingTimer timer;
    std::promise<void> entered, cancelled;
    std::atomic<bool> current{false};
    timer.action = [&] {
        current = timer.expiryIsCurrent();
        entered.set_value();
        cancelled.get_future().wait();
        if (current) current = timer.expiryIsCurrent();
    };
    // Armed, cancelled and armed again at once, as a reply and the next request do.
    timer.start(5000);
    while (!timer.isRunning()) std::this_thread::yield();
    timer.cancel();
    EXPECT_FALSE(timer.isRunning());
    timer.start(1);
    entered.get_future().wait();
    EXPECT_TRUE(current) << "an expiry nobody touched is current";
    // The protocol's case: its reply handling cancels and re-arms while the expiry runs.
    timer.cancel();
    timer.start(5000);
    cancelled.set_value();
    ASSERT_TRUE(timer.waitForCount(1));
    EXPECT_FALSE(current) << "the expiry was overtaken";
    timer.stop();
    EXPECT_EQ(timer.count, 1);
}

TEST_F(TimerThreadTest, DestructionWhileArmedNeverCallsTimeout) {
    std::atomic<int> calls{0};
    for (int i = 0; i < 20; ++i) {
        auto timer = std::make_unique<CountingTimer>();
        timer->action = [&] { ++calls; };
        timer->start(5000);
        if (i % 2)
            while (!timer->isRunning()) std::this_thread::yield();
        timer.reset();
    }
    EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace zq
