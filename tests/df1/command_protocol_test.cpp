#include "df1/command_protocol.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "adapter_wire.h"
#include "common/recording_failure_handler.h"
#include "os/notifications.h"
#include "scripted_line.h"
#include "scripted_target.h"
#include "support/vyjimka.h"

namespace zq {

// Names the state in test messages.
void PrintTo(TxnState state, std::ostream* os) {
    *os << txnStateName(state);
}

namespace {

using namespace testing;
using Failures = std::vector<RecordedFailure>;
using Request = std::function<void(CommandProtocol&)>;
using namespace std::chrono_literals;

// Time-outs this long never expire during a test: only expireNow() ends them.
constexpr ProtocolOptions kNeverExpire{.timeScaleMultiplier = 1000};

// The protocol on an in-memory line, driven from the test thread as the GUI thread drives it.
class ProtocolTest : public ContractTest {
protected:
    explicit ProtocolTest(const ProtocolOptions& options = kNeverExpire)
        : protocol{tx, rx, options} {}
    void SetUp() override {
        ContractTest::SetUp();
        takePendingMessage();
    }
    void TearDown() override {
        EXPECT_FALSE(hasPendingMessage());
        ContractTest::TearDown();
    }

    // Delivers bytes and hands their announcement to the protocol.
    void answer(const Bytes& bytes) {
        protocol.onSerialEvent(CommandProtocol::kBytesArrived, line.deliver(bytes));
    }
    void acknowledgeAndReply(const Bytes& message, std::uint8_t type = 4) {
        answer(kAckBytes + replyFrame(message, type));
    }
    // The payload that reply() gives now.
    Bytes replyBytes() {
        MemPtr view;
        protocol.reply(view);
        return Bytes(view.data(), view.data() + view.size());
    }
    // WM_COM_TIMEOUT notifications posted since the last call; fails on any other kind.
    std::size_t timeoutsPosted() {
        std::size_t n = 0;
        for (; auto notification = queue.take(); ++n)
            EXPECT_EQ(*notification, (Notification{WM_COM_TIMEOUT, 0, 0}));
        return n;
    }

    NotificationQueue queue;
    ScopedNotificationPoster poster{queue};
    ScriptedLine line;
    Df1FrameTx tx{line};
    Df1FrameRx rx{line};
    CommandProtocol protocol;
};

const Bytes kChip{0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x10};
const Bytes kChip2{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};
const Bytes kWriteData{0x10, 0x01, 0x02, 0x10, 0x03};
const Bytes kReadData{0x10, 0x02, 0x10, 0x03};
const Bytes kChannelAnswerBytes = textBytes("START\r\nG");

Bytes corruptCrc(const Bytes& message) {
    return flipped(message, -1, 0x01);
}

using ProtocolRequestTest = ProtocolTest;

TEST_F(ProtocolRequestTest, EveryRequestAndItsReplyAsTheWireLayoutSays) {
    const struct {
        const char* name;
        Request request;
        std::uint8_t address;  // the request as it goes on the wire
        Bytes data;
        std::uint32_t period;
        Bytes reply;
        std::uint8_t packetType;
        Bytes payload;  // what reply() then gives
    } cases[] = {
        {"connect 1", [](auto& p) { p.connect(1); }, 1, {0x01, 0x00, 0xD1, 0xC1}, 5000,
         connectReply(0x30000002, 1), 4, {0x02, 0x00, 0x00, 0x30}},
        {"connect 2", [](auto& p) { p.connect(2); }, 1, withCrc({0x01, 0x00}), 15000,
         connectReply(0x31000010, 2), 4, {0x10, 0x00, 0x00, 0x31}},
        {"erase", [](auto& p) { p.erase(0x00010000, 0x00020000, 20000); },
         1, withCrc(Bytes{0x02, 0x00} + le32(0x00010000) + le32(0x00020000)), 20000,
         eraseReply(0x00010000, 0x00020000, 100), 4, {100}},
        {"uploadInit", [](auto& p) { p.uploadInit(0x40001000, 0x1234); },
         1, withCrc(Bytes{0x03, 0x00} + le32(0x40001000) + le32(0x1234)), 5000,
         uploadInitReply(0x40001000, 0x1234), 4, {}},
        {"write", [](auto& p) { p.write(0x40001000, 5, kWriteData.data(), 1000); },
         1, withCrc(Bytes{0x04, 0x00} + le32(0x40001000) + le16(5) + kWriteData), 1000,
         writeReply(0x40001000, 5), 4, {}},
        {"read", [](auto& p) { p.read(0x20, 4); },
         1, withCrc(Bytes{0x08, 0x00} + le32(0x20) + le16(4)), 5000,
         readReply(0x20, 4, kReadData), 4, kReadData},
        {"idRead", [](auto& p) { p.idRead(kChip.data(), 3, 2); },
         1, withCrc(Bytes{0x0A, 0x00} + kChip + Bytes{3, 2}), 5000,
         idReadReply(kChip, 3, 2, {0xAB, 0x10}), 4, {0xAB, 0x10}},
        {"exec", [](auto& p) { p.exec(0x40000100); },
         1, withCrc(Bytes{0x06, 0x00} + le32(0x40000100)), 5000, execReply(0x40000100), 4, {}},
        {"command7", [](auto& p) { p.command7(); }, 1, withCrc({0x07, 0x00}), 5000,
         command7Reply(), 4, {}},
        {"idSearch", [](auto& p) { p.idSearch(5); }, 1, withCrc({0x09, 0x00, 0x05}), 5000,
         idSearchReply(5, kChip + kChip2), 4, kChip + kChip2},
        {"channel 1, adapter packet", [](auto& p) { p.switchChannel(1); }, 0, {'b'}, 1000,
         kChannelAnswerBytes, 7, {}},
        {"channel 0, reply packet", [](auto& p) { p.switchChannel(0); }, 0, {'a'}, 1000,
         kChannelAnswerBytes, 4, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = line.sentCount();
        c.request(protocol);
        EXPECT_EQ(protocol.state(), TxnState::Waiting);
        std::vector<PcFrame> frames = line.sentFrames();
        ASSERT_EQ(frames.size(), before + 1);
        EXPECT_EQ(frames.back(), (PcFrame{c.address, c.data}));
        EXPECT_EQ(protocol.armedPeriodMs(), c.period);
        // The channel switch is not acknowledged; everything else is.
        if (c.address == 0)
            answer(replyFrame(c.reply, c.packetType));
        else
            acknowledgeAndReply(c.reply, c.packetType);
        EXPECT_EQ(protocol.state(), TxnState::Done);
        EXPECT_EQ(replyBytes(), c.payload);
        EXPECT_FALSE(protocol.timeoutRunning());
        EXPECT_EQ(line.sentCount(), before + 1);
        EXPECT_EQ(timeoutsPosted(), 0u);
    }
}

TEST_F(ProtocolRequestTest, RepliesThatDoNotMatchTheRequestAreSentAgain) {
    const struct {
        const char* name;
        Request request;
        std::vector<Bytes> replies;
    } cases[] = {
        {"connect 2",
         [](auto& p) { p.connect(2); },
         {connectReply(1, 1), connectReply(1, 2, 0), withCrc({0xFE, 0x01, 0, 0, 0, 0, 2, 0}),
          eraseReply(0, 0, 0), corruptCrc(connectReply(1, 2))}},
        {"erase",
         [](auto& p) { p.erase(0x1000, 0x2000, 9000); },
         {eraseReply(0x1000, 0x2000, 101), eraseReply(0x1001, 0x2000, 1),
          eraseReply(0x1000, 0x2001, 1), uploadInitReply(0x1000, 0x2000), rejectReply(),
          corruptCrc(eraseReply(0x1000, 0x2000, 100))}},
        {"uploadInit",
         [](auto& p) { p.uploadInit(0x1000, 0x2000); },
         {uploadInitReply(0x1001, 0x2000), uploadInitReply(0x1000, 0x1FFF),
          withCrc({0xFC, 0x01, 0, 0x10, 0, 0, 0, 0x20, 0, 0, 0}), writeReply(0x1000, 0x2000)}},
        {"write",
         [](auto& p) { p.write(0x1000, 5, kWriteData.data(), 1000); },
         {writeReply(0x1000, 4), writeReply(0x1004, 5), uploadInitReply(0x1000, 5)}},
        {"read",
         [](auto& p) { p.read(0x20, 4); },
         {readReply(0x20, 4, {1, 2, 3}), readReply(0x20, 4, {1, 2, 3, 4, 5}),
          readReply(0x20, 4, kReadData, 0xFF), readReply(0x21, 4, kReadData),
          readReply(0x20, 3, {1, 2, 3})}},
        {"idRead",
         [](auto& p) { p.idRead(kChip.data(), 3, 2); },
         {idReadReply(kChip2, 3, 2, {1, 2}), idReadReply(kChip, 4, 2, {1, 2}),
          idReadReply(kChip, 3, 1, {1}), idReadReply(kChip, 3, 2, {1}),
          idReadReply(kChip, 3, 2, {1, 2}, 0xFF)}},
        {"idSearch",
         [](auto& p) { p.idSearch(5); },
         {idSearchReply(5, {}), idSearchReply(5, {1, 2, 3, 4, 5, 6, 7}), idSearchReply(6, kChip),
          idSearchReply(5, kChip, 0xFF), withCrc({0xF6, 0x01})}},
    };
    for (const auto& c : cases) {
        for (std::size_t i = 0; i < c.replies.size(); ++i) {
            SCOPED_TRACE(std::string(c.name) + " reply " + std::to_string(i));
            const std::size_t before = line.sentCount();
            c.request(protocol);
            acknowledgeAndReply(c.replies[i]);
            EXPECT_EQ(protocol.state(), TxnState::Waiting);
            ASSERT_EQ(line.sentCount(), before + 2);
            EXPECT_EQ(line.sent()[before + 1], line.sent()[before]) << "the same frame again";
            protocol.abort();
        }
    }
}

// Every request but ERASE and the ones that carry data back judges the status alike: WRITE
// stands for them.
TEST_F(ProtocolRequestTest, AnsweredWithAStatusOtherThanOneTheRequestEndsInErrorReply) {
    const struct {
        const char* name;
        Request request;
        Bytes reply;
    } cases[] = {
        {"erase", [](auto& p) { p.erase(0x1000, 0x2000, 9000); }, eraseReply(0x1000, 0x2000, 0, 3)},
        {"write", [](auto& p) { p.write(0x1000, 0, nullptr, 1000); }, writeReply(0x1000, 0, 0)},
        {"read, nothing to give", [](auto& p) { p.read(0x20, 4); }, readReply(0x20, 4, {}, 0xFF)},
        {"idRead, nothing to give", [](auto& p) { p.idRead(kChip.data(), 3, 2); },
         idReadReply(kChip, 3, 2, {}, 0xFF)},
        {"idSearch, found none", [](auto& p) { p.idSearch(5); }, idSearchReply(5, {}, 0xFF)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = line.sentCount();
        c.request(protocol);
        acknowledgeAndReply(c.reply);
        EXPECT_EQ(protocol.state(), TxnState::ErrorReply);
        EXPECT_EQ(replyBytes(), Bytes{});
        EXPECT_EQ(line.sentCount(), before + 1);
    }
}

// Which check a frame fails is the receiver's business; a bad frame of either kind is sent again.
TEST_F(ProtocolRequestTest, FramesThatFailTheirChecksAreSentAgain) {
    const Bytes reply = uploadInitReply(0x1000, 8);
    for (const Bytes& wire : {flipped(replyFrame(reply), -1, 0x01), replyFrame(reply, 3)}) {
        const std::size_t before = line.sentCount();
        protocol.uploadInit(0x1000, 8);
        answer(kAckBytes + wire);
        EXPECT_EQ(protocol.state(), TxnState::Waiting);
        EXPECT_EQ(line.sentCount(), before + 2);
        acknowledgeAndReply(reply);
        EXPECT_EQ(protocol.state(), TxnState::Done);
    }
}

// --- time-outs and retries -------------------------------------------------------------------

using ProtocolRetryTest = ProtocolTest;

// Unacknowledged, every request goes out four times; once acknowledged, only where it may
// safely run twice.
TEST_F(ProtocolRetryTest, TimeOutsResendUpToFourTimesWhereARepeatIsSafeThenNoReply) {
    const struct {
        const char* name;
        Request request;
        bool acknowledged;
        std::size_t transmissions;
    } cases[] = {
        {"uploadInit", [](auto& p) { p.uploadInit(0x1000, 8); }, false, 4},
        {"connect 1", [](auto& p) { p.connect(1); }, false, 4},
        {"exec", [](auto& p) { p.exec(0x100); }, false, 4},
        {"channel", [](auto& p) { p.switchChannel(1); }, false, 4},
        {"uploadInit, acknowledged", [](auto& p) { p.uploadInit(0x1000, 8); }, true, 4},
        {"connect 2, acknowledged", [](auto& p) { p.connect(2); }, true, 4},
        {"erase before progress", [](auto& p) { p.erase(0x1000, 8, 100); }, true, 4},
        {"exec, acknowledged", [](auto& p) { p.exec(0x100); }, true, 1},
        {"command7, acknowledged", [](auto& p) { p.command7(); }, true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = line.sentCount();
        c.request(protocol);
        for (int i = 0; i < 10 && protocol.state() == TxnState::Waiting; ++i) {
            if (c.acknowledged) answer(kAckBytes);
            protocol.expireNow();
        }
        EXPECT_EQ(protocol.state(), TxnState::NoReply);
        EXPECT_EQ(line.sentCount(), before + c.transmissions);
        EXPECT_EQ(timeoutsPosted(), c.transmissions);
        // A stray expiry after the end changes nothing and posts nothing.
        protocol.expireNow();
        EXPECT_EQ(timeoutsPosted(), 0u);
        EXPECT_EQ(line.sentCount(), before + c.transmissions);
    }
}

// The boot loader answers only once the operator has powered the module: no time limit, and a
// faulty answer ends the connect instead of sending it again.
TEST_F(ProtocolRetryTest, AnAcknowledgedL1ConnectWaitsWithoutLimitAndIsNeverSentAgain) {
    protocol.connect(1);
    answer(kAckBytes);
    EXPECT_FALSE(protocol.timeoutRunning());
    protocol.expireNow();  // even an expiry that slipped through changes nothing
    EXPECT_EQ(timeoutsPosted(), 0u);
    answer(replyFrame(connectReply(0x10000001, 1)));
    EXPECT_EQ(protocol.state(), TxnState::Done);
    EXPECT_EQ(replyBytes(), (Bytes{0x01, 0x00, 0x00, 0x10}));
    for (const Bytes& wire : {replyFrame(rejectReply()), replyFrame(connectReply(1, 2)),
                              replyFrame(corruptCrc(connectReply(1, 1)))}) {
        protocol.connect(1);
        answer(kAckBytes + wire);
        EXPECT_EQ(protocol.state(), TxnState::NoReply);
    }
    EXPECT_EQ(line.sentCount(), 4u);
}

TEST_F(ProtocolRetryTest, AnAbortedRequestEndsInNoReplyAndItsLateReplyIsIgnored) {
    protocol.connect(1);
    answer(kAckBytes);
    protocol.abort();
    EXPECT_EQ(protocol.state(), TxnState::NoReply);
    answer(replyFrame(connectReply(0x10000001, 1)));
    EXPECT_EQ(protocol.state(), TxnState::NoReply);
    EXPECT_EQ(replyBytes(), Bytes{});
    protocol.abort();  // nothing running: nothing to do
    EXPECT_EQ(protocol.state(), TxnState::NoReply);

    // The next request starts afresh.
    protocol.connect(1);
    acknowledgeAndReply(connectReply(0x10000001, 1));
    EXPECT_EQ(protocol.state(), TxnState::Done);
}

TEST_F(ProtocolRetryTest, ANakIsAnsweredAtTheTimeOutEvenWhereTimeOutsAreNotRetried) {
    protocol.exec(0x100);
    answer(kNakBytes);
    EXPECT_EQ(line.sentCount(), 1u);
    EXPECT_EQ(protocol.state(), TxnState::Waiting);
    protocol.expireNow();
    EXPECT_EQ(line.sentCount(), 2u);
    acknowledgeAndReply(execReply(0x100));
    EXPECT_EQ(protocol.state(), TxnState::Done);
    EXPECT_EQ(rx.counters().naks, 1u);
}

TEST_F(ProtocolRetryTest, RejectIsSentAgainWhereAllowedAndEndsTheRestOfTheTime) {
    protocol.exec(0x100);
    acknowledgeAndReply(rejectReply());
    EXPECT_EQ(line.sentCount(), 2u);
    acknowledgeAndReply(execReply(0x100));
    EXPECT_EQ(protocol.state(), TxnState::Done);

    protocol.command7();
    for (int i = 0; i < 4; ++i) acknowledgeAndReply(rejectReply());
    EXPECT_EQ(protocol.state(), TxnState::NoReply);
    EXPECT_EQ(line.sentCount(), 2u + 4u);

    // EXEC and CMD7 are not repeated for a broken or unmatched reply.
    for (const Bytes& reply : {corruptCrc(execReply(0x100)), execReply(0x104)}) {
        protocol.exec(0x100);
        acknowledgeAndReply(reply);
        EXPECT_EQ(protocol.state(), TxnState::NoReply);
    }
    EXPECT_EQ(line.sentCount(), 2u + 4u + 2u);
    EXPECT_EQ(timeoutsPosted(), 0u);
}

TEST_F(ProtocolRetryTest, AnAnnouncementFromBeforeARetransmissionFeedsNothingStale) {
    protocol.uploadInit(0x1000, 8);
    // The NAK arrives, but its announcement is handled only after the time-out resent the frame.
    const std::uint32_t stale = line.deliver(kNakBytes);
    protocol.expireNow();
    EXPECT_EQ(line.sentCount(), 2u);
    protocol.onSerialEvent(CommandProtocol::kBytesArrived, stale);
    EXPECT_EQ(rx.ackState(), Df1FrameRx::kAwaitingAck);
    acknowledgeAndReply(uploadInitReply(0x1000, 8));
    EXPECT_EQ(protocol.state(), TxnState::Done);
    EXPECT_EQ(rx.counters().naks, 0u);
}

// --- erase progress --------------------------------------------------------------------------

using ProtocolEraseTest = ProtocolTest;

TEST_F(ProtocolEraseTest, ProgressRepliesThatArriveTogetherAreAllSeen) {
    const Bytes p10 = replyFrame(eraseReply(0x1000, 0x2000, 10));
    const Bytes p50 = replyFrame(eraseReply(0x1000, 0x2000, 50));
    const Bytes p100 = replyFrame(eraseReply(0x1000, 0x2000, 100));

    protocol.erase(0x1000, 0x2000, 20000);
    answer(kAckBytes + p10 + p50 + p100);
    EXPECT_EQ(protocol.state(), TxnState::Done);
    EXPECT_EQ(replyBytes(), Bytes{100});

    protocol.erase(0x1000, 0x2000, 20000);
    answer(kAckBytes + p10);
    // The last reply arrives split, its first part together with the one before.
    answer(p50 + Bytes(p100.begin(), p100.begin() + 7));
    EXPECT_EQ(protocol.state(), TxnState::InProgress);
    EXPECT_EQ(replyBytes(), Bytes{50});
    answer(Bytes(p100.begin() + 7, p100.end()));
    EXPECT_EQ(protocol.state(), TxnState::Done);
    EXPECT_EQ(line.sentCount(), 2u);
}

TEST_F(ProtocolEraseTest, ManyProgressRepliesDoNotFillTheReceiveArea) {
    protocol.erase(0x1000, 0x2000, 20000);
    answer(kAckBytes);
    // More replies than the receive area holds at once, in pairs.
    for (std::uint8_t percent = 0; percent < 100; percent += 2) {
        answer(replyFrame(eraseReply(0x1000, 0x2000, percent)) +
               replyFrame(eraseReply(0x1000, 0x2000, percent + 1)));
        ASSERT_EQ(protocol.state(), TxnState::InProgress);
        ASSERT_EQ(replyBytes(), Bytes{static_cast<std::uint8_t>(percent + 1)});
    }
    answer(replyFrame(eraseReply(0x1000, 0x2000, 100)));
    EXPECT_EQ(protocol.state(), TxnState::Done);
}

TEST_F(ProtocolEraseTest, AnEraseWhoseProgressStopsEndsAtItsTimeOutWithoutRetransmission) {
    protocol.erase(0x1000, 0x2000, 20000);
    acknowledgeAndReply(eraseReply(0x1000, 0x2000, 40));
    protocol.expireNow();
    EXPECT_EQ(protocol.state(), TxnState::NoReply);
    EXPECT_EQ(timeoutsPosted(), 1u);
    EXPECT_EQ(line.sentCount(), 1u);
    EXPECT_EQ(protocol.armedPeriodMs(), 20000u);
}

TEST_F(ProtocolEraseTest, BeforeProgressAFaultyReplyIsSentAgainAtOnceAfterItNot) {
    protocol.erase(0x1000, 0x2000, 20000);
    acknowledgeAndReply(rejectReply());
    EXPECT_EQ(line.sentCount(), 2u);
    acknowledgeAndReply(corruptCrc(eraseReply(0x1000, 0x2000, 5)));
    EXPECT_EQ(line.sentCount(), 3u);
    acknowledgeAndReply(eraseReply(0x1000, 0x2000, 5));
    EXPECT_EQ(protocol.state(), TxnState::InProgress);
    // Once erasing, stray and broken replies are passed over.
    answer(replyFrame(rejectReply()) + replyFrame(eraseReply(0x1001, 0x2000, 50)));
    answer(flipped(replyFrame(eraseReply(0x1000, 0x2000, 60)), -1, 0x01));
    EXPECT_EQ(protocol.state(), TxnState::InProgress);
    EXPECT_EQ(replyBytes(), Bytes{5});
    answer(replyFrame(eraseReply(0x1000, 0x2000, 100)));
    EXPECT_EQ(protocol.state(), TxnState::Done);
    EXPECT_EQ(line.sentCount(), 3u);
}

TEST_F(ProtocolEraseTest, AFailureReportedDuringTheEraseEndsIt) {
    protocol.erase(0x1000, 0x2000, 20000);
    acknowledgeAndReply(eraseReply(0x1000, 0x2000, 30));
    answer(replyFrame(eraseReply(0x1000, 0x2000, 30, 0x05)));
    EXPECT_EQ(protocol.state(), TxnState::ErrorReply);
    EXPECT_FALSE(protocol.timeoutRunning());
}

// --- the channel switch ----------------------------------------------------------------------

using ProtocolChannelTest = ProtocolTest;

TEST_F(ProtocolChannelTest, AnyOtherAnswerIsSentAgainABrokenFrameWaitsForTheTimeOut) {
    protocol.switchChannel(1);
    answer(replyFrame(textBytes("START\r\nH"), 7));
    EXPECT_EQ(line.sentCount(), 2u);
    answer(replyFrame(textBytes("START\r\n"), 7));
    EXPECT_EQ(line.sentCount(), 3u);
    answer(flipped(replyFrame(kChannelAnswerBytes, 7), -1, 0x01));
    EXPECT_EQ(line.sentCount(), 3u);
    protocol.expireNow();
    EXPECT_EQ(line.sentCount(), 4u);
    answer(replyFrame(kChannelAnswerBytes, 7));
    EXPECT_EQ(protocol.state(), TxnState::Done);
    for (const PcFrame& f : line.sentFrames()) EXPECT_EQ(f, (PcFrame{0, {'b'}}));
}

// --- contracts and the lock ------------------------------------------------------------------

using ProtocolContractTest = ProtocolTest;

TEST_F(ProtocolContractTest, ARequestWhileAnotherRunsIsRefusedAndLeavesItAlone) {
    protocol.uploadInit(0x1000, 8);
    const std::vector<Bytes> before = line.sent();
    protocol.write(0x2000, 5, kWriteData.data(), 1000);
    protocol.uploadInit(0x3000, 8);
    EXPECT_EQ(takeFailures(), (Failures{require("!!!"), require("!!!")}));
    protocol.expireNow();
    EXPECT_EQ(line.sent().back(), before.back());
    acknowledgeAndReply(uploadInitReply(0x1000, 8));
    EXPECT_EQ(protocol.state(), TxnState::Done);
}

TEST_F(ProtocolContractTest, ReadingAReplyBeforeItCameIsRefused) {
    protocol.connect(2);
    EXPECT_EQ(replyBytes(), Bytes{});
    EXPECT_EQ(takeFailures(), Failures{require("!!!")});
    protocol.read(0x10, 4);
    EXPECT_EQ(takeFailures(), Failures{require("!!!")});
    protocol.abort();
}

TEST_F(ProtocolContractTest, RequestsLargerThanOneFrameCarriesOrForAThirdChannelAreRefused) {
    const Bytes data(497, 0x10);
    protocol.write(0x1000, 497, data.data(), 1000);
    protocol.read(0x1000, kMaxReadData + 1);
    protocol.switchChannel(2);
    EXPECT_EQ(takeFailures(), (Failures{require("correct size"), require("correct size"),
                                        require("correct channel")}));
    EXPECT_EQ(line.sentCount(), 0u);
    EXPECT_EQ(protocol.state(), TxnState::Idle);

    protocol.write(0x1000, 496, data.data(), 1000);
    acknowledgeAndReply(writeReply(0x1000, 496));
    protocol.read(0x1000, kMaxReadData);
    acknowledgeAndReply(readReply(0x1000, kMaxReadData, Bytes(kMaxReadData, 0x10)));
    EXPECT_EQ(protocol.state(), TxnState::Done);
    EXPECT_EQ(replyBytes(), Bytes(kMaxReadData, 0x10));
}

class ProtocolLockTest : public ProtocolTest {
protected:
    ProtocolLockTest() : ProtocolTest({.lockLimit = 20ms, .timeScaleMultiplier = 1000}) {}
};

TEST_F(ProtocolLockTest, ALockHeldTooLongIsReportedAndNoByteIsLost) {
    protocol.uploadInit(0x1000, 8);
    // The answer arrives while the resend holds the lock.
    line.setSendScript(
        [&](const Bytes&) { answer(kAckBytes + replyFrame(uploadInitReply(0x1000, 8))); });
    protocol.expireNow();
    line.setSendScript({});
    EXPECT_EQ(takeFailures(), Failures{explicitFailure("deadlock")});
    // The next announcement, whatever its count, finds the bytes.
    protocol.onSerialEvent(CommandProtocol::kBytesArrived, 0);
    EXPECT_EQ(protocol.state(), TxnState::Done);
}

TEST_F(ProtocolContractTest, APortFailureDuringARetransmissionEndsTheExchange) {
    protocol.uploadInit(0x1000, 8);
    line.failNextReset();
    protocol.expireNow();
    EXPECT_EQ(protocol.state(), TxnState::NoReply);
    auto notification = queue.take();
    ASSERT_TRUE(notification.has_value());
    EXPECT_EQ(*notification, (Notification{WM_COM_ERROR, kComErrorRxThread, 0}));
    EXPECT_TRUE(takePendingMessage().has_value());
    EXPECT_EQ(timeoutsPosted(), 0u);
}

// --- replies racing time-outs ----------------------------------------------------------------

constexpr auto kPatience = 10s;

// The far side on a thread of its own: kvsb-sim's module answers every frame at once, and the
// answer comes after a random delay around the protocol's time-out, counted from the moment the
// frame was sent, so that replies and time-outs meet in every order. Sometimes the ACK and the
// reply come apart, sometimes the answer never comes.
class RacingPeer {
public:
    using Clock = std::chrono::steady_clock;

    RacingPeer(ScriptedLine& line, std::chrono::microseconds timeout)
        : line_(line), delay_(0, 2 * timeout.count()), thread_([this] { run(); }) {
        target_.startDaemon(1);
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
            target_.onFrame(*request);
            Bytes answer;  // the ACK, then every reply (an erase's progress too)
            while (std::optional<Bytes> piece = target_.takeAnswer()) answer = answer + *piece;
            const int how = mode_(random_);
            if (how == 0) return;  // lost on the way
            auto due = Clock::now() + std::chrono::microseconds(delay_(random_));
            if (how == 1) {
                due_.emplace(due, kAckBytes);
                answer.erase(answer.begin(), answer.begin() + 2);
                due += std::chrono::microseconds(delay_(random_));
            }
            due_.emplace(due, answer);
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

    ScriptedLine& line_;
    ScriptedTarget target_;
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
        // Each request has its own address in flash: a late answer to an earlier one must not
        // match.
        if (i % 2 == 0)
            protocol.uploadInit(0x10000 + 16 * i, 16);
        else
            protocol.erase(0x10000 + 16 * i, 16, 5000);
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
