#include "df1/df1_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "adapter_wire.h"
#include "common/recording_failure_handler.h"
#include "scripted_line.h"

namespace zq {
namespace {

using namespace testing;
using Failures = std::vector<RecordedFailure>;
using Counters = Df1FrameRx::Counters;

Bytes frameOf(const Df1FrameTx& tx) {
    return Bytes(tx.frame(), tx.frame() + tx.frameLength());
}

// --- sending ---------------------------------------------------------------------------------

class Df1FrameTxTest : public ContractTest {
protected:
    ScriptedLine line;
    Df1FrameTx tx{line};
};

// Every DLE of the data doubled, and counted once in the CRC: the adapter's decoder, written
// from the wire layout, finds the data again.
TEST_F(Df1FrameTxTest, TheLargestFrameFillsTheAreaAndALargerOneIsRefused) {
    const Bytes dles(506, 0x10);
    tx.build(0, dles.data(), 506);
    EXPECT_EQ(tx.frameLength(), 1019u);
    auto decoded = decodePcFrame(frameOf(tx));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->data, dles);

    const Bytes before = frameOf(tx);
    const Bytes tooLong(507, 0x10);
    tx.build(1, tooLong.data(), 507);
    EXPECT_EQ(takeFailures(), Failures{require("correct size")});
    EXPECT_EQ(frameOf(tx), before);
}

TEST_F(Df1FrameTxTest, BuildingTheNextFrameLeavesTheBlockInFlightAlone) {
    const std::uint8_t first[] = {0x03, 0x00, 0x11, 0x22};
    const std::uint8_t second[] = {0x04, 0x00, 0x33};
    tx.build(1, first, 4);
    tx.send();
    const Bytes sent = line.lastBlockNow();
    // The port may still be writing the first frame when the next request is set up.
    tx.build(1, second, 3);
    EXPECT_EQ(line.lastBlockNow(), sent);
    tx.send();
    tx.build(1, first, 4);
    EXPECT_EQ(line.lastBlockNow(), line.sent().back());
}

// --- receiving -------------------------------------------------------------------------------

class Df1FrameRxTest : public ContractTest {
protected:
    // Each test starts with a request just sent: an ACK first, adapter packets skipped.
    Df1FrameRxTest() { rx.restart(false, true); }
    // Delivers bytes and announces them, as the port's receive thread and the GUI thread do.
    void receive(const Bytes& bytes) { rx.onBytes(line.deliver(bytes)); }
    // The same, one byte per announcement.
    void receiveByteByByte(const Bytes& bytes) {
        for (std::uint8_t byte : bytes) receive(Bytes{byte});
    }
    Bytes message() {
        MemPtr view;
        rx.takeMessage(view);
        return Bytes(view.data(), view.data() + view.size());
    }

    ScriptedLine line;
    Df1FrameRx rx{line};
};

TEST_F(Df1FrameRxTest, StartsReceptionOnceIntoItsOwnAreaAndStopsItWhenDestroyed) {
    EXPECT_EQ(line.rxMode(), RxMode::EveryChunk);
    EXPECT_EQ(line.rxLength(), Df1FrameRx::kRawSize);
    ScriptedLine other;
    { Df1FrameRx scoped(other); }
    EXPECT_FALSE(other.receiving());
}

TEST_F(Df1FrameRxTest, ScansTheSameWhateverTheBytesArePortionedInto) {
    const Bytes reply = withCrc({0xFB, 0x01, 0x10, 0x10, 0x00, 0x10, 0x02, 0x10});
    const Bytes wire = Bytes{0x55, 0x10, 0x99} + kAckBytes + Bytes{0x03, 0x10, 0x10} +
                       replyFrame(reply) + Bytes{0x10, 0x06};
    receiveByteByByte(wire);
    EXPECT_EQ(rx.result(), Df1FrameRx::kGoodFrame);
    EXPECT_EQ(message(), reply);

    rx.restart(false, true);
    receive(wire);
    EXPECT_EQ(message(), reply);
}

// Finds a message whose frame CRC has a 0x10 in the given byte, which the adapter sends
// undoubled after DLE ETX.
Bytes messageWithDleInCrc(int crcByte) {
    for (unsigned seed = 0; seed < 65536; ++seed) {
        Bytes m = withCrc(
            {0xF9, 0x01, static_cast<std::uint8_t>(seed), static_cast<std::uint8_t>(seed >> 8)});
        Bytes f = replyFrame(m);
        if (f[f.size() - 2 + crcByte] == 0x10 && f[f.size() - 2 + (1 - crcByte)] != 0x10) return m;
    }
    return {};
}

TEST_F(Df1FrameRxTest, ReadsCrcBytesOf0x10AsTheyCome) {
    for (int crcByte : {0, 1}) {
        SCOPED_TRACE(crcByte == 0 ? "low byte" : "high byte");
        const Bytes m = messageWithDleInCrc(crcByte);
        ASSERT_FALSE(m.empty());
        rx.restart(false, true);
        receive(kAckBytes + replyFrame(m));
        ASSERT_EQ(rx.result(), Df1FrameRx::kGoodFrame);
        EXPECT_EQ(message(), m);
    }
    EXPECT_EQ(rx.counters(), Counters{});
}

TEST_F(Df1FrameRxTest, IgnoresAFrameBeforeTheAcknowledgement) {
    const Bytes early = withCrc({0xF9, 0x01});
    const Bytes late = withCrc({0xF9, 0x02});
    receive(replyFrame(early));
    EXPECT_EQ(rx.ackState(), Df1FrameRx::kAwaitingAck);
    EXPECT_EQ(rx.result(), Df1FrameRx::kNoFrame);
    receive(kAckBytes);
    EXPECT_EQ(rx.ackState(), Df1FrameRx::kAcknowledged);
    EXPECT_EQ(rx.result(), Df1FrameRx::kNoFrame);
    receive(replyFrame(late));
    EXPECT_EQ(rx.result(), Df1FrameRx::kGoodFrame);
    EXPECT_EQ(message(), late);
    EXPECT_EQ(rx.counters(), Counters{});
}

TEST_F(Df1FrameRxTest, DropsShortFramesAndSkippedAdapterPacketsAndTakesTheNextInTheChunk) {
    const Bytes reply = withCrc({0xFA, 0x01, 0, 0, 1, 0});
    // Five content bytes: a header and the XOR byte, no message.
    const Bytes shortFrame = frame(Bytes{0x01, 0x00, 0x20, 0x00, 0x00});
    receive(kAckBytes + shortFrame + replyFrame(withCrc({0xF9, 0x01}), 7) + replyFrame(reply));
    EXPECT_EQ(rx.result(), Df1FrameRx::kGoodFrame);
    EXPECT_EQ(message(), reply);
    EXPECT_EQ(rx.counters(), (Counters{.shortFrames = 1, .skippedType7 = 1}));
}

TEST_F(Df1FrameRxTest, NakStopsTheReceiverUntilTheNextRestart) {
    receive(kNakBytes + kAckBytes + replyFrame(withCrc({0xF9, 0x01})));
    EXPECT_EQ(rx.ackState(), Df1FrameRx::kRefused);
    EXPECT_EQ(rx.result(), Df1FrameRx::kNoFrame);
    EXPECT_EQ(rx.receiveState(), 6u);
    EXPECT_EQ(rx.counters(), Counters{.naks = 1});
    rx.restart(false, true);
    receive(kAckBytes + replyFrame(withCrc({0xF9, 0x01})));
    EXPECT_EQ(rx.result(), Df1FrameRx::kGoodFrame);
}

TEST_F(Df1FrameRxTest, EveryFaultOfAFrameEndsInABadFrameAndItsCounter) {
    const Bytes m = withCrc({0xF9, 0x01, 0x33});
    const struct {
        const char* what;
        Bytes frame;
        Counters counters;
    } cases[] = {
        {"bad frame CRC", flipped(replyFrame(m), -1, 0x01), {.crcErrors = 1}},
        {"bad header check", frame(flipped(packet(m), 3, 0x80)), {.badPackets = 1}},
        {"bad XOR byte", frame(flipped(packet(m), -1, 0x01)), {.badPackets = 1}},
        {"first byte not 01", frame(flipped(packet(m), 0, 0x03)), {.badPackets = 1}},
        {"packet type 5", replyFrame(m, 5), {.badPackets = 1}},
        {"packet type 0", replyFrame(m, 0), {.badPackets = 1}},
        {"DLE then 07 inside", Bytes{0x10, 0x02, 0x01, 0x10, 0x07}, {.badEscapes = 1}},
        {"content longer than the payload area", frame(Bytes(509, 0x10)), {.badPackets = 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedLine freshLine;
        Df1FrameRx fresh(freshLine);
        fresh.restart(false, true);
        // A good frame right behind must not be scanned: the receiver stopped.
        const Bytes wire = kAckBytes + c.frame + replyFrame(m);
        fresh.onBytes(freshLine.deliver(wire));
        EXPECT_EQ(fresh.result(), Df1FrameRx::kBadFrame);
        EXPECT_EQ(fresh.receiveState(), 6u);
        EXPECT_EQ(fresh.counters(), c.counters);
    }
}

TEST_F(Df1FrameRxTest, TakingAMessageWithoutAGoodFrameIsRefused) {
    MemPtr view;
    rx.takeMessage(view);
    EXPECT_EQ(takeFailures(), Failures{require("expected state")});
    EXPECT_EQ(view.size(), 0u);
}

TEST_F(Df1FrameRxTest, ABufferFilledToTheEndIsScannedNoFurther) {
    // The port stops storing at the end of the receive area; the receiver must not read past it.
    rx.restart(true, true);
    receive(Bytes(Df1FrameRx::kRawSize + 100, 0x55));
    EXPECT_EQ(rx.result(), Df1FrameRx::kNoFrame);
    EXPECT_EQ(line.receivedCount(), Df1FrameRx::kRawSize);
}

}  // namespace
}  // namespace zq
