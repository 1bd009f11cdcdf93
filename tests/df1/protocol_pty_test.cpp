#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "adapter_wire.h"
#include "common/recording_failure_handler.h"
#include "df1/command_protocol.h"
#include "os/comport.h"
#include "os/notifications.h"
#include "os/pty_peer.h"
#include "protocol_fixture.h"
#include "support/vyjimka.h"

namespace zq {

namespace {

using namespace testing;
using namespace std::chrono_literals;

constexpr auto kPatience = 10s;
constexpr std::uint32_t kPlId = 0x30000002;

std::uint32_t u32At(const Bytes& m, std::size_t at) {
    return static_cast<std::uint32_t>(m[at] | m[at + 1] << 8 | m[at + 2] << 16 | m[at + 3] << 24);
}

std::uint16_t u16At(const Bytes& m, std::size_t at) {
    return static_cast<std::uint16_t>(m[at] | m[at + 1] << 8);
}

// The adapter with a target behind it, at the master end of a pseudo-terminal, on a thread of
// its own. It answers every command of the set from a small memory; a test may put a filter in
// front that drops frames or answers them otherwise.
class PtyTarget {
public:
    // Returns the bytes to send for a frame, or nothing to fall back to the target's answer.
    using Filter = std::function<std::optional<Bytes>(const PcFrame&, std::size_t index)>;

    explicit PtyTarget(PtyPeer& pty) : pty_(pty), thread_([this] { run(); }) {}
    ~PtyTarget() {
        stop_ = true;
        thread_.join();
    }

    void setFilter(Filter filter) {
        std::lock_guard<std::mutex> guard(lock_);
        filter_ = std::move(filter);
    }
    std::vector<PcFrame> frames() {
        std::lock_guard<std::mutex> guard(lock_);
        return frames_;
    }
    std::size_t frameCount() {
        std::lock_guard<std::mutex> guard(lock_);
        return frames_.size();
    }

private:
    void run() {
        std::uint8_t chunk[4096];
        while (!stop_) {
            pollfd fd{pty_.master(), POLLIN, 0};
            if (::poll(&fd, 1, 20) <= 0) continue;
            ssize_t n = ::read(pty_.master(), chunk, sizeof chunk);
            if (n <= 0) continue;
            for (const PcFrame& frame : parser_.feed(chunk, static_cast<std::size_t>(n))) {
                Filter filter;
                std::size_t index = 0;
                {
                    std::lock_guard<std::mutex> guard(lock_);
                    index = frames_.size();
                    frames_.push_back(frame);
                    filter = filter_;
                }
                std::optional<Bytes> answer;
                if (filter) answer = filter(frame, index);
                if (!answer) answer = answerTo(frame);
                if (!answer->empty())
                    pty_.write(std::string_view(reinterpret_cast<const char*>(answer->data()),
                                                answer->size()));
            }
        }
    }

    Bytes answerTo(const PcFrame& frame) {
        if (frame.address == 0) return replyFrame(textBytes("START\r\nG"), 7);
        const Bytes& m = frame.data;
        if (m.size() < 4) return kNakBytes;
        return kAckBytes + replyTo(m);
    }

    Bytes replyTo(const Bytes& m) {
        switch (m[0]) {
            case 0x01:
                return replyFrame(connectReply(kPlId, daemonRunning_ ? 2 : 1));
            case 0x02:
                // All progress replies in one write: they reach the PC in one read.
                return replyFrame(eraseReply(u32At(m, 2), u32At(m, 6), 10)) +
                       replyFrame(eraseReply(u32At(m, 2), u32At(m, 6), 50)) +
                       replyFrame(eraseReply(u32At(m, 2), u32At(m, 6), 100));
            case 0x03:
                return replyFrame(uploadInitReply(u32At(m, 2), u32At(m, 6)));
            case 0x04: {
                const std::uint16_t length = u16At(m, 6);
                for (std::uint16_t i = 0; i < length; ++i) memory_[u32At(m, 2) + i] = m[8 + i];
                return replyFrame(writeReply(u32At(m, 2), length));
            }
            case 0x06:
                daemonRunning_ = true;
                return replyFrame(execReply(u32At(m, 2)));
            case 0x07:
                return replyFrame(command7Reply());
            case 0x08: {
                Bytes data;
                for (std::uint16_t i = 0; i < u16At(m, 6); ++i)
                    data.push_back(memory_[u32At(m, 2) + i]);
                return replyFrame(readReply(u32At(m, 2), u16At(m, 6), data));
            }
            case 0x09:
                return replyFrame(idSearchReply(m[2], chipIds()));
            case 0x0A: {
                const Bytes chip(m.begin() + 2, m.begin() + 10);
                Bytes data;
                for (std::uint8_t i = 0; i < m[11]; ++i)
                    data.push_back(static_cast<std::uint8_t>(0x10 + m[10] + i));
                return replyFrame(idReadReply(chip, m[10], m[11], data));
            }
            default:
                return replyFrame(rejectReply());
        }
    }

public:
    static Bytes chipIds() {
        return Bytes{0x28, 0x10, 0x10, 0x03, 0x00, 0x00, 0x00, 0x7E} +
               Bytes{0x28, 0x22, 0x10, 0x02, 0x00, 0x00, 0x00, 0x91};
    }

private:
    PtyPeer& pty_;
    PcFrameParser parser_;
    std::map<std::uint32_t, std::uint8_t> memory_;
    bool daemonRunning_ = false;
    std::mutex lock_;
    Filter filter_;
    std::vector<PcFrame> frames_;
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
    EXPECT_EQ(reply(), (Bytes{0x02, 0x00, 0x00, 0x30}));

    // A block full of DLEs goes out doubled and comes back doubled.
    Bytes block(kMaxWriteData);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = i % 3 == 0 ? 0x10 : static_cast<std::uint8_t>(i);
    protocol->uploadInit(0x40000000, kMaxWriteData);
    EXPECT_EQ(finish(), TxnState::Done);
    protocol->write(0x40000000, kMaxWriteData, block.data(), 1000);
    EXPECT_EQ(finish(), TxnState::Done);
    protocol->exec(0x40000000);
    EXPECT_EQ(finish(), TxnState::Done);

    protocol->connect(2);
    EXPECT_EQ(finish(), TxnState::Done);
    protocol->erase(0x00010000, 0x00010000, 20000);
    EXPECT_EQ(finish(), TxnState::Done);
    EXPECT_EQ(reply(), Bytes{100});

    protocol->read(0x40000000, kMaxReadData);
    EXPECT_EQ(finish(), TxnState::Done);
    EXPECT_EQ(reply(), Bytes(block.begin(), block.begin() + kMaxReadData));

    protocol->idSearch(0x10);
    EXPECT_EQ(finish(), TxnState::Done);
    EXPECT_EQ(reply(), PtyTarget::chipIds());
    const Bytes ids = PtyTarget::chipIds();
    const Bytes chip(ids.begin(), ids.begin() + 8);
    protocol->idRead(chip.data(), 2, 3);
    EXPECT_EQ(finish(), TxnState::Done);
    EXPECT_EQ(reply(), (Bytes{0x12, 0x13, 0x14}));

    protocol->command7();
    EXPECT_EQ(finish(), TxnState::Done);

    // One transmission each: nothing was lost or repeated on the way.
    EXPECT_EQ(target->frameCount(), 11u);
    EXPECT_EQ(rx->counters(), Df1FrameRx::Counters{});
}

TEST_F(ProtocolPtyTest, LostAndRefusedFramesAreSentAgainAtTheirTimeOut) {
    // Long enough that a loaded machine answers the fourth copy within its time-out.
    scaleTimeouts(10);  // 5000 ms become 500 ms
    // The first two frames get lost, the third is refused, the fourth is answered.
    target->setFilter([](const PcFrame&, std::size_t index) -> std::optional<Bytes> {
        if (index < 2) return Bytes{};
        if (index == 2) return kNakBytes;
        return std::nullopt;
    });
    protocol->uploadInit(0x40000000, 16);
    EXPECT_EQ(finish(), TxnState::Done);
    const std::vector<PcFrame> frames = target->frames();
    ASSERT_EQ(frames.size(), 4u);
    for (const PcFrame& frame : frames) EXPECT_EQ(frame, frames.front());
    EXPECT_EQ(rx->counters().naks, 1u);
}

TEST_F(ProtocolPtyTest, UnansweredRequestsEndInNoReply) {
    scaleTimeouts(500);  // 15000 ms become 30 ms
    // Acknowledged, never answered.
    target->setFilter(
        [](const PcFrame&, std::size_t) -> std::optional<Bytes> { return kAckBytes; });
    protocol->connect(2);
    EXPECT_EQ(finish(), TxnState::NoReply);
    EXPECT_EQ(target->frameCount(), 4u);

    // An erase that reports progress and then falls silent is not sent again.
    target->setFilter([](const PcFrame& frame, std::size_t) -> std::optional<Bytes> {
        return kAckBytes + replyFrame(eraseReply(u32At(frame.data, 2), u32At(frame.data, 6), 20));
    });
    protocol->erase(0x00010000, 0x100, 5000);
    EXPECT_EQ(finish(), TxnState::NoReply);
    EXPECT_EQ(target->frameCount(), 5u);
}

}  // namespace
}  // namespace zq
