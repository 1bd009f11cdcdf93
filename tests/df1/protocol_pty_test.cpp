#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "adapter_wire.h"
#include "common/recording_failure_handler.h"
#include "df1/command_protocol.h"
#include "os/comport.h"
#include "os/notifications.h"
#include "os/pty_peer.h"
#include "protocol_fixture.h"
#include "scripted_target.h"
#include "support/vyjimka.h"

namespace zq {

namespace {

using namespace testing;
using namespace std::chrono_literals;

constexpr auto kPatience = 10s;
// The adapter with a target module behind it, at the master end of a pseudo-terminal, on a
// thread of its own.
class PtyTarget {
public:
    explicit PtyTarget(PtyPeer& pty) : pty_(pty), thread_([this] { run(); }) {}
    ~PtyTarget() {
        stop_ = true;
        thread_.join();
    }
    std::size_t frameCount() const { return frames_; }

private:
    void run() {
        std::uint8_t chunk[4096];
        std::vector<sim::DecodedFrame> decoded;
        while (!stop_) {
            pollfd fd{pty_.master(), POLLIN, 0};
            if (::poll(&fd, 1, 20) <= 0) continue;
            ssize_t n = ::read(pty_.master(), chunk, sizeof chunk);
            if (n <= 0) continue;
            decoded.clear();
            decoder_.feed(chunk, static_cast<std::size_t>(n), decoded);
            for (const sim::DecodedFrame& d : decoded) {
                if (!d.good) continue;
                ++frames_;
                // Every piece in one write: an erase's progress reaches the PC in one read.
                target_.onFrame(d.frame);
                Bytes answer;
                while (std::optional<Bytes> piece = target_.takeAnswer()) answer = answer + *piece;
                pty_.write(std::string_view(reinterpret_cast<const char*>(answer.data()),
                                            answer.size()));
            }
        }
    }

    PtyPeer& pty_;
    sim::PcFrameDecoder decoder_;
    ScriptedTarget target_;
    std::atomic<std::size_t> frames_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;  // last: started once everything above is initialised
};

// The whole stack on a real port: ComPort on the pseudo-terminal's slave, the frame sender and
// receiver, the protocol; the test thread plays the GUI thread.
class ProtocolPtyTest : public ContractTest {
protected:
    void SetUp() override {
        ContractTest::SetUp();
        takePendingMessage();
        port.open();
        rx = std::make_unique<Df1FrameRx>(port);
        protocol = std::make_unique<CommandProtocol>(tx, *rx);
        target = std::make_unique<PtyTarget>(pty);
    }
    void TearDown() override {
        target.reset();
        protocol.reset();
        port.stopRx();
        port.stopTx();
        rx.reset();
        EXPECT_FALSE(hasPendingMessage());
        ContractTest::TearDown();
    }

    // Passes the port's notifications to the protocol until the exchange has ended.
    TxnState finish() {
        TxnState state = protocol->state();
        while (state < TxnState::Done) {
            auto n = queue.waitFor(kPatience);
            if (!n) {
                ADD_FAILURE() << "the exchange hangs in " << txnStateName(state);
                protocol->abort();
                return protocol->state();
            }
            if (n->message == WM_COM_RXDATA)
                protocol->onSerialEvent(CommandProtocol::kBytesArrived,
                                        static_cast<std::uint32_t>(n->wParam));
            else if (n->message == WM_COM_ERROR && n->wParam > 0)
                protocol->onSerialEvent(CommandProtocol::kLineError, 0);
            else if (n->message == WM_COM_ERROR)
                ADD_FAILURE() << "the port failed: " << takePendingMessage().value_or("");
            state = protocol->state();
        }
        return state;
    }
    // A protocol whose time-outs are 1/divisor of the real ones.
    void scaleTimeouts(std::uint32_t divisor) {
        protocol = std::make_unique<CommandProtocol>(tx, *rx,
                                                     ProtocolOptions{.timeScaleDivisor = divisor});
    }
    Bytes reply() {
        MemPtr view;
        protocol->reply(view);
        return Bytes(view.data(), view.data() + view.size());
    }

    NotificationQueue queue;
    ScopedNotificationPoster poster{queue};
    PtyPeer pty;
    ComPort port{pty.slavePath(), kComPortBaudRate};
    Df1FrameTx tx{port};
    std::unique_ptr<Df1FrameRx> rx;
    std::unique_ptr<CommandProtocol> protocol;
    std::unique_ptr<PtyTarget> target;
};

TEST_F(ProtocolPtyTest, EveryCommandOfTheSetIsExchangedOverThePseudoTerminal) {
    protocol->switchChannel(1);
    EXPECT_EQ(finish(), TxnState::Done);

    protocol->connect(1);
    EXPECT_EQ(finish(), TxnState::Done);
    EXPECT_EQ(reply(), (Bytes{0x01, 0x00, 0x00, 0x10}));

    // A block full of DLEs goes out doubled and comes back doubled.
    Bytes block(kMaxWriteData);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = i % 3 == 0 ? 0x10 : static_cast<std::uint8_t>(i);
    protocol->uploadInit(0x00400000, kMaxWriteData);
    EXPECT_EQ(finish(), TxnState::Done);
    protocol->write(0x00400000, kMaxWriteData, block.data(), 1000);
    EXPECT_EQ(finish(), TxnState::Done);
    protocol->exec(0x00400000);
    EXPECT_EQ(finish(), TxnState::Done);

    protocol->connect(2);
    EXPECT_EQ(finish(), TxnState::Done);
    protocol->erase(0x00010000, 0x00010000, 20000);
    EXPECT_EQ(finish(), TxnState::Done);
    EXPECT_EQ(reply(), Bytes{100});

    protocol->read(0x00400000, kMaxReadData);
    EXPECT_EQ(finish(), TxnState::Done);
    EXPECT_EQ(reply(), Bytes(block.begin(), block.begin() + kMaxReadData));

    protocol->idSearch(0);
    EXPECT_EQ(finish(), TxnState::Done);
    const Bytes ids = reply();
    ASSERT_EQ(ids.size(), 16u) << "two chips";
    protocol->idRead(ids.data(), 2, 3);
    EXPECT_EQ(finish(), TxnState::Done);
    EXPECT_EQ(reply().size(), 3u);

    protocol->command7();
    EXPECT_EQ(finish(), TxnState::Done);

    // One transmission each: nothing was lost or repeated on the way.
    EXPECT_EQ(target->frameCount(), 11u);
    EXPECT_EQ(rx->counters(), Df1FrameRx::Counters{});
}

}  // namespace
}  // namespace zq
