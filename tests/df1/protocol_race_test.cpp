#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "adapter_wire.h"
#include "protocol_fixture.h"

namespace zq {
namespace {

using namespace testing;
using namespace std::chrono_literals;

constexpr auto kPatience = 10s;

// The far side on a thread of its own: answers every frame after a random delay around the
// protocol's time-out, counted from the moment the frame was sent, so that replies and
// time-outs meet in every order. Sometimes the ACK and the reply come apart, sometimes the
// answer never comes.
class RacingPeer {
public:
    using Clock = std::chrono::steady_clock;

    RacingPeer(ScriptedLine& line, std::chrono::microseconds timeout)
        : line_(line), delay_(0, 2 * timeout.count()), thread_([this] { run(); }) {
        line_.setSendScript([this](const Bytes& frame) { schedule(frame); });
    }
    ~RacingPeer() {
        line_.setSendScript(nullptr);
        {
            std::lock_guard<std::mutex> guard(lock_);
            quit_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }

private:
    // On the sending thread (the GUI thread or the protocol's timer thread).
    void schedule(const Bytes& frame) {
        auto request = decodePcFrame(frame);
        if (!request) return;
        {
            std::lock_guard<std::mutex> guard(lock_);
            const int how = mode_(random_);
            if (how == 0) return;  // lost on the way
            const Bytes replies = answerTo(request->data);
            const auto now = Clock::now();
            const auto ackDue = now + std::chrono::microseconds(delay_(random_));
            if (how == 1) {
                due_.emplace(ackDue, kAckBytes);
                due_.emplace(ackDue + std::chrono::microseconds(delay_(random_)), replies);
            } else {
                due_.emplace(ackDue, kAckBytes + replies);
            }
        }
        wake_.notify_one();
    }

    void run() {
        std::unique_lock<std::mutex> guard(lock_);
        while (!quit_) {
            if (due_.empty()) {
                wake_.wait(guard);
                continue;
            }
            auto first = due_.begin();
            if (Clock::now() < first->first) {
                wake_.wait_until(guard, first->first);
                continue;
            }
            const Bytes bytes = first->second;
            due_.erase(first);
            guard.unlock();
            postRxData(line_.deliver(bytes));
            guard.lock();
        }
    }

    static Bytes answerTo(const Bytes& request) {
        auto u32 = [&](std::size_t at) {
            return static_cast<std::uint32_t>(request[at] | request[at + 1] << 8 |
                                              request[at + 2] << 16 | request[at + 3] << 24);
        };
        if (request.size() == 12 && request[0] == 0x03)
            return replyFrame(uploadInitReply(u32(2), u32(6)));
        if (request.size() == 12 && request[0] == 0x02)
            return replyFrame(eraseReply(u32(2), u32(6), 50)) +
                   replyFrame(eraseReply(u32(2), u32(6), 100));
        return {};
    }

    ScriptedLine& line_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::mt19937 random_{20261214};
    std::uniform_int_distribution<long> delay_;
    std::uniform_int_distribution<int> mode_{0, 9};
    std::multimap<Clock::time_point, Bytes> due_;
    bool quit_ = false;
    std::thread thread_;  // last: started once everything above is initialised
};

// 5000 ms become 250 us; the peer answers within 0 to 500 us.
class ProtocolRaceTest : public ProtocolTest {
protected:
    ProtocolRaceTest() : ProtocolTest({.timeScaleDivisor = 20000}) {}
};

// The GUI thread's part: pass every announcement to the protocol until the exchange has ended,
// as the main dialog does, and never sleep through a time-out.
TEST_F(ProtocolRaceTest, RepliesRacingTimeOutsNeverDeadlockNorResendAnAnsweredRequest) {
    RacingPeer peer(line, 250us);
    int done = 0;
    int noReply = 0;
    int timeouts = 0;
    for (std::uint32_t i = 0; i < 2000; ++i) {
        // Each request has its own address: a late answer to an earlier one must not match.
        if (i % 2 == 0)
            protocol.uploadInit(i, 16);
        else
            protocol.erase(i, 16, 5000);
        TxnState state = protocol.state();
        while (state < TxnState::Done) {
            auto notification = queue.waitFor(kPatience);
            ASSERT_TRUE(notification.has_value()) << "request " << i << " hangs";
            if (notification->message == WM_COM_RXDATA)
                protocol.onSerialEvent(CommandProtocol::kBytesArrived,
                                       static_cast<std::uint32_t>(notification->wParam));
            else if (notification->message == WM_COM_TIMEOUT)
                ++timeouts;
            state = protocol.state();
        }
        ASSERT_NE(state, TxnState::ErrorReply);
        state == TxnState::Done ? ++done : ++noReply;
        if (state == TxnState::Done && i % 2 == 1) {
            MemPtr percent;
            protocol.reply(percent);
            ASSERT_EQ(percent.size(), 1u);
            EXPECT_EQ(percent.getU8(0), 100);
        }
        // Once settled, nothing goes out any more: not from a late time-out either.
        const std::size_t sent = line.sentCount();
        std::this_thread::yield();
        ASSERT_EQ(line.sentCount(), sent) << "request " << i << " was sent after it ended";
        ASSERT_FALSE(protocol.timeoutRunning());
    }
    EXPECT_GT(done, 0);
    EXPECT_GT(timeouts, 0);
    RecordProperty("done", done);
    RecordProperty("noReply", noReply);
    RecordProperty("timeouts", timeouts);
    protocol.abort();
}

}  // namespace
}  // namespace zq
