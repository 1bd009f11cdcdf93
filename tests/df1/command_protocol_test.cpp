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
#include "protocol_fixture.h"
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
class ProtocolTest : public ProtocolOnLineTest {
protected:
    explicit ProtocolTest(const ProtocolOptions& options = kNeverExpire)
        : ProtocolOnLineTest(options) {}

    // Delivers bytes and hands their announcement to the protocol.
    void answer(const Bytes& bytes) {
        protocol.onSerialEvent(CommandProtocol::kBytesArrived, line.deliver(bytes));
    }
    // Sends a request (if any), hands the protocol each piece in turn (kExpiry: the time-out
    // expires instead) and tells what came of each: the state, how often the request went out,
    // and the payload of a reply taken.
    std::string exchange(const Request& request, std::initializer_list<Bytes> pieces) {
        const std::size_t before = line.sentCount();
        if (request) request(protocol);
        std::string out;
        for (const Bytes& piece : pieces) {
            piece.empty() ? protocol.expireNow() : answer(piece);
            const TxnState state = protocol.state();
            out.append(" ").append(txnStateName(state)).append(" ");
            out.append(std::to_string(line.sentCount() - before));
            if (state == TxnState::InProgress || state == TxnState::Done)
                for (std::uint8_t b : replyBytes()) out.append(":").append(std::to_string(b));
        }
        return out;
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
};

const Bytes kChip{0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x10};
const Bytes kChip2{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};
const Bytes kWriteData{0x10, 0x01, 0x02, 0x10, 0x03};
const Bytes kReadData{0x10, 0x02, 0x10, 0x03};
const Bytes kChannelAnswerBytes = textBytes("START\r\nG");

const Bytes kExpiry;

Bytes corruptCrc(const Bytes& message) {
    return flipped(message, -1, 0x01);
}
Bytes acked(const Bytes& message) {
    return kAckBytes + replyFrame(message);
}
const Request kConnect1 = [](CommandProtocol& p) { p.connect(1); };
const Request kExec = [](CommandProtocol& p) { p.exec(0x100); };
const Request kUploadInit = [](CommandProtocol& p) { p.uploadInit(0x1000, 8); };
const Request kErase = [](CommandProtocol& p) { p.erase(0x1000, 0x2000, 20000); };

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
        ASSERT_EQ(line.sentCount(), before + 1);
        EXPECT_EQ(line.sentFrames().back(), (PcFrame{c.address, c.data}));
        EXPECT_EQ(protocol.armedPeriodMs(), c.period);
        // The channel switch is not acknowledged; everything else is.
        answer((c.address == 0 ? Bytes{} : kAckBytes) + replyFrame(c.reply, c.packetType));
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
            ASSERT_EQ(exchange(c.request, {acked(c.replies[i])}), " Waiting 2");
            const std::vector<Bytes> sent = line.sent();
            EXPECT_EQ(sent.back(), sent[sent.size() - 2]) << "the same frame again";
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
        EXPECT_EQ(exchange(c.request, {acked(c.reply)}), " ErrorReply 1");
        EXPECT_EQ(replyBytes(), Bytes{});
    }
}

// Which check a frame fails is the receiver's business; a bad frame of either kind is sent again.
TEST_F(ProtocolRequestTest, FramesThatFailTheirChecksAreSentAgain) {
    const Bytes reply = uploadInitReply(0x1000, 8);
    for (const Bytes& wire : {flipped(replyFrame(reply), -1, 0x01), replyFrame(reply, 3)})
        EXPECT_EQ(exchange(kUploadInit, {kAckBytes + wire, acked(reply)}), " Waiting 2 Done 2");
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
    EXPECT_EQ(exchange(kConnect1, {kAckBytes}), " Waiting 1");
    EXPECT_FALSE(protocol.timeoutRunning());
    // Even an expiry that slipped through changes nothing.
    EXPECT_EQ(exchange({}, {kExpiry, replyFrame(connectReply(0x10000001, 1))}),
              " Waiting 0 Done 0:1:0:0:16");
    EXPECT_EQ(timeoutsPosted(), 0u);
    for (const Bytes& wire : {replyFrame(rejectReply()), replyFrame(connectReply(1, 2)),
                              replyFrame(corruptCrc(connectReply(1, 1)))})
        EXPECT_EQ(exchange(kConnect1, {kAckBytes + wire}), " NoReply 1");
}

TEST_F(ProtocolRetryTest, AnAbortedRequestEndsInNoReplyAndItsLateReplyIsIgnored) {
    EXPECT_EQ(exchange(kConnect1, {kAckBytes}), " Waiting 1");
    protocol.abort();
    EXPECT_EQ(exchange({}, {replyFrame(connectReply(0x10000001, 1))}), " NoReply 0");
    EXPECT_EQ(replyBytes(), Bytes{});
    protocol.abort();  // nothing running: nothing to do
    EXPECT_EQ(protocol.state(), TxnState::NoReply);
    // The next request starts afresh.
    EXPECT_EQ(exchange(kConnect1, {acked(connectReply(0x10000001, 1))}), " Done 1:1:0:0:16");
}

TEST_F(ProtocolRetryTest, ANakIsAnsweredAtTheTimeOutEvenWhereTimeOutsAreNotRetried) {
    EXPECT_EQ(exchange(kExec, {kNakBytes, kExpiry, acked(execReply(0x100))}),
              " Waiting 1 Waiting 2 Done 2");
    EXPECT_EQ(rx.counters().naks, 1u);
}

TEST_F(ProtocolRetryTest, RejectIsSentAgainWhereAllowedAndEndsTheRestOfTheTime) {
    const Bytes reject = acked(rejectReply());
    EXPECT_EQ(exchange(kExec, {reject, acked(execReply(0x100))}), " Waiting 2 Done 2");
    EXPECT_EQ(exchange([](CommandProtocol& p) { p.command7(); }, {reject, reject, reject, reject}),
              " Waiting 2 Waiting 3 Waiting 4 NoReply 4");
    // EXEC and CMD7 are not repeated for a broken or unmatched reply.
    for (const Bytes& reply : {corruptCrc(execReply(0x100)), execReply(0x104)})
        EXPECT_EQ(exchange(kExec, {acked(reply)}), " NoReply 1");
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
    EXPECT_EQ(exchange({}, {acked(uploadInitReply(0x1000, 8))}), " Done 0");
    EXPECT_EQ(rx.counters().naks, 0u);
}

// --- erase progress --------------------------------------------------------------------------

using ProtocolEraseTest = ProtocolTest;

TEST_F(ProtocolEraseTest, ProgressRepliesThatArriveTogetherAreAllSeen) {
    const Bytes p10 = replyFrame(eraseReply(0x1000, 0x2000, 10));
    const Bytes p50 = replyFrame(eraseReply(0x1000, 0x2000, 50));
    const Bytes p100 = replyFrame(eraseReply(0x1000, 0x2000, 100));
    EXPECT_EQ(exchange(kErase, {kAckBytes + p10 + p50 + p100}), " Done 1:100");
    // The last reply arrives split, its first part together with the one before.
    EXPECT_EQ(exchange(kErase, {kAckBytes + p10, p50 + Bytes(p100.begin(), p100.begin() + 7),
                                Bytes(p100.begin() + 7, p100.end())}),
              " InProgress 1:10 InProgress 1:50 Done 1:100");
}

TEST_F(ProtocolEraseTest, ManyProgressRepliesDoNotFillTheReceiveArea) {
    EXPECT_EQ(exchange(kErase, {kAckBytes}), " Waiting 1");
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
    EXPECT_EQ(exchange(kErase, {acked(eraseReply(0x1000, 0x2000, 40)), kExpiry}),
              " InProgress 1:40 NoReply 1");
    EXPECT_EQ(timeoutsPosted(), 1u);
    EXPECT_EQ(protocol.armedPeriodMs(), 20000u);
}

TEST_F(ProtocolEraseTest, BeforeProgressAFaultyReplyIsSentAgainAtOnceAfterItNot) {
    // Once erasing, stray and broken replies are passed over.
    EXPECT_EQ(
        exchange(kErase, {acked(rejectReply()), acked(corruptCrc(eraseReply(0x1000, 0x2000, 5))),
                          acked(eraseReply(0x1000, 0x2000, 5)),
                          replyFrame(rejectReply()) + replyFrame(eraseReply(0x1001, 0x2000, 50)),
                          flipped(replyFrame(eraseReply(0x1000, 0x2000, 60)), -1, 0x01),
                          replyFrame(eraseReply(0x1000, 0x2000, 100))}),
        " Waiting 2 Waiting 3 InProgress 3:5 InProgress 3:5 InProgress 3:5 Done 3:100");
}

TEST_F(ProtocolEraseTest, AFailureReportedDuringTheEraseEndsIt) {
    EXPECT_EQ(exchange(kErase, {acked(eraseReply(0x1000, 0x2000, 30)),
                                replyFrame(eraseReply(0x1000, 0x2000, 30, 0x05))}),
              " InProgress 1:30 ErrorReply 1");
    EXPECT_FALSE(protocol.timeoutRunning());
}

// --- the channel switch ----------------------------------------------------------------------

using ProtocolChannelTest = ProtocolTest;

TEST_F(ProtocolChannelTest, AnyOtherAnswerIsSentAgainABrokenFrameWaitsForTheTimeOut) {
    EXPECT_EQ(exchange([](CommandProtocol& p) { p.switchChannel(1); },
                       {replyFrame(textBytes("START\r\nH"), 7), replyFrame(textBytes("START\r\n"), 7),
                        flipped(replyFrame(kChannelAnswerBytes, 7), -1, 0x01), kExpiry,
                        replyFrame(kChannelAnswerBytes, 7)}),
              " Waiting 2 Waiting 3 Waiting 3 Waiting 4 Done 4");
    for (const PcFrame& f : line.sentFrames()) EXPECT_EQ(f, (PcFrame{0, {'b'}}));
}

// --- contracts and the lock ------------------------------------------------------------------

using ProtocolContractTest = ProtocolTest;

TEST_F(ProtocolContractTest, ARequestWhileAnotherRunsIsRefusedAndLeavesItAlone) {
    protocol.uploadInit(0x1000, 8);
    protocol.write(0x2000, 5, kWriteData.data(), 1000);
    protocol.uploadInit(0x3000, 8);
    EXPECT_EQ(takeFailures(), (Failures{require("!!!"), require("!!!")}));
    EXPECT_EQ(exchange({}, {kExpiry, acked(uploadInitReply(0x1000, 8))}), " Waiting 1 Done 1");
    const std::vector<Bytes> sent = line.sent();
    EXPECT_EQ(sent.at(1), sent.at(0));
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
    answer(acked(writeReply(0x1000, 496)));
    protocol.read(0x1000, kMaxReadData);
    answer(acked(readReply(0x1000, kMaxReadData, Bytes(kMaxReadData, 0x10))));
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
    EXPECT_EQ(queue.take(), (Notification{WM_COM_ERROR, kComErrorRxThread, 0}));
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
        done += state == TxnState::Done;
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
    protocol.abort();
}

}  // namespace
}  // namespace zq
