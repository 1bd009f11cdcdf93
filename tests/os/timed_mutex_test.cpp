#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "os/timed_mutex.h"

namespace zq {
namespace {

using namespace std::chrono_literals;

TEST(TimedMutex, GivesUpAfterTheLimitAndExcludesOtherwise) {
    TimedMutex mutex;
    std::unique_lock<TimedMutex> held(mutex);
    std::thread other([&] {
        EXPECT_FALSE(mutex.try_lock());
        EXPECT_FALSE(mutex.try_lock_for(5ms)) << "the lock is held";
    });
    other.join();
    held.unlock();

    int shared = 0;
    std::thread counter([&] {
        for (int i = 0; i < 10000; ++i) {
            std::unique_lock<TimedMutex> guard(mutex, 10s);
            ASSERT_TRUE(guard.owns_lock());
            ++shared;
        }
    });
    for (int i = 0; i < 10000; ++i) {
        std::lock_guard<TimedMutex> guard(mutex);
        ++shared;
    }
    counter.join();
    EXPECT_EQ(shared, 20000);
}

}  // namespace
}  // namespace zq
