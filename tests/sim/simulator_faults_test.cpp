#include <gtest/gtest.h>

#include <functional>

#include "sim_harness.h"

namespace zq::sim {
namespace {

using testing::Bytes;
using testing::Incoming;
using testing::SimHarness;

SimConfig withRule(const char* text) {
    SimConfig config;
    config.plidA = config.plidB = 0x30000001;
    config.powerOnDelay = millis(10);
    config.eraseTime = millis(40);
    config.eraseSteps = 4;
    FaultRule rule;
    std::string error;
    EXPECT_TRUE(parseFaultRule(text, rule, error)) << error;
    config.faults.push_back(rule);
    return config;
}

std::string kinds(const std::vector<Incoming>& in) {
    std::string text;
    for (const Incoming& i : in) {
        if (!text.empty()) text += ' ';
        switch (i.kind) {
            case Incoming::Ack:
                text += "ACK";
                break;
            case Incoming::Nak:
                text += "NAK";
                break;
            case Incoming::Frame:
                text += i.message.at(0) == 0xF7 ? "REJECT" : "FRAME";
                if (!i.messageCrcGood) text += "(bad message crc)";
                break;
            case Incoming::BadFrame:
                text += "BAD(" + i.why + ")";
                break;
        }
    }
    return text;
}

// The rule's name appears in the trace as a fault applied.
void expectTraced(const SimHarness& h, const std::string& name) {
    EXPECT_FALSE(h.traceWith({"\"fault\":\"", name}).empty()) << "no trace line names " << name;
}

// A channel switch and a first CONNECT that powers the module up; then a second CONNECT, whose
// answer is what the rule (written to hit it) changes.
std::vector<Incoming> secondConnect(SimHarness& h) {
    EXPECT_EQ(h.switchChannel(1).size(), 8u);
    EXPECT_FALSE(h.command(testing::connectRequest()).empty());
    h.send(testing::pcFrame(1, testing::connectRequest()));
    h.runFor(millis(200));
    return h.take();
}

struct ReplyCase {
    const char* rule;
    const char* seen;
    std::uint64_t noise = 0;  // bytes outside frames
};

// The status rule is exercised by the burns against kvsb-sim.
TEST(SimulatorFaultsTest, EachReplyFaultShowsOnTheLineAndInTheTrace) {
    const ReplyCase cases[] = {
        {"nak,on=connect,n=2", "NAK"},
        {"lost-ack,on=connect,n=2", "FRAME"},
        {"lost-reply,on=connect,n=2", "ACK"},
        {"frame-crc,on=connect,n=2", "ACK BAD(crc)"},
        {"msg-crc,on=connect,n=2", "ACK FRAME(bad message crc)"},
        {"bad-header,on=connect,n=2", "ACK BAD(header)"},
        {"bad-xor,on=connect,n=2", "ACK BAD(xor)"},
        {"silence,on=connect,n=2", ""},
        {"reject,on=connect", "ACK REJECT"},
        {"garbage,on=connect,n=2,count=5", "ACK FRAME", 5},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.rule);
        SimHarness h(withRule(c.rule));
        EXPECT_EQ(kinds(secondConnect(h)), c.seen);
        EXPECT_EQ(h.noise(), c.noise);
        std::string name(c.rule, std::string(c.rule).find(','));
        expectTraced(h, name);
    }
}

TEST(SimulatorFaultsTest, RetransmissionAfterAFaultIsServed) {
    SimHarness h(withRule("nak,on=connect,n=2"));
    EXPECT_EQ(kinds(secondConnect(h)), "NAK");
    h.send(testing::pcFrame(1, testing::connectRequest()));
    h.runFor(millis(10));
    EXPECT_EQ(kinds(h.take()), "ACK FRAME");
    EXPECT_EQ(h.traceWith({"\"dir\":\"pc\"", "\"attempt\":3"}).size(), 1u)
        << "the same frame a third time";
    EXPECT_EQ(h.sim().stats().repeatedFrames, 2u);
}

// The ACK leaves with the first piece; every later piece alone, 10 ms after the last.
TEST(SimulatorFaultsTest, PiecesComeApartInTime) {
    SimHarness h(withRule("pieces,on=connect,n=2,size=4,pause-ms=10"));
    EXPECT_EQ(h.switchChannel(1).size(), 8u);
    h.command(testing::connectRequest());
    const std::size_t before = h.writes().size();
    h.send(testing::pcFrame(1, testing::connectRequest()));
    h.runFor(millis(500));
    EXPECT_EQ(kinds(h.take()), "ACK FRAME");
    const auto& writes = h.writes();
    ASSERT_GT(writes.size(), before + 3);
    for (std::size_t i = before + 1; i < writes.size(); ++i) {
        EXPECT_LE(writes[i].second.size(), 4u);
        EXPECT_EQ(writes[i].first - writes[i - 1].first, millis(10));
    }
    expectTraced(h, "pieces");
}

TEST(SimulatorFaultsTest, DoubleProgressSendsTwoRepliesInOneWrite) {
    SimHarness h(withRule("double-progress,n=1"));
    EXPECT_EQ(h.switchChannel(1).size(), 8u);
    h.command(testing::connectRequest());
    testing::Bytes daemon(16, 0x60);
    h.command(testing::uploadInitRequest(0x40000000, 16));
    h.command(testing::writeRequest(0x40000000, daemon));
    h.command(testing::execRequest(0x40000000));
    h.command(testing::connectRequest());
    std::size_t before = h.writes().size();
    EXPECT_EQ(h.erase(0x00004000, 64), (std::vector<int>{25, 50, 75, 100}));
    std::vector<std::size_t> framesPerWrite;
    for (std::size_t i = before; i < h.writes().size(); ++i) {
        testing::AdapterReader reader;
        std::vector<Incoming> in;
        reader.feed(h.writes()[i].second, in);
        std::size_t frames = 0;
        for (const Incoming& x : in) frames += x.kind == Incoming::Frame;
        framesPerWrite.push_back(frames);
    }
    EXPECT_EQ(framesPerWrite, (std::vector<std::size_t>{0, 2, 2})) << "the ACK, then pairs";
    expectTraced(h, "double-progress");
}

TEST(SimulatorFaultsTest, SilenceLastsAndLatePowerOutlastsATimeout) {
    {
        SimHarness h(withRule("silence,n=3"));
        EXPECT_EQ(h.switchChannel(1).size(), 8u);
        EXPECT_FALSE(h.command(testing::connectRequest()).empty());
        h.send(testing::pcFrame(1, testing::connectRequest()));
        h.send(testing::channelFrame(1));
        h.runFor(millis(1000));
        EXPECT_TRUE(h.take().empty()) << "no ACK, no reply, no channel answer";
    }
    {
        SimHarness h(withRule("late-power,ms=7000"));
        EXPECT_EQ(h.switchChannel(1).size(), 8u);
        h.send(testing::pcFrame(1, testing::connectRequest()));
        h.runFor(millis(6999));
        EXPECT_EQ(kinds(h.take()), "ACK");
        h.runFor(millis(2));
        EXPECT_EQ(kinds(h.take()), "FRAME");
        EXPECT_EQ(h.traceWith({"POWER-ON", "late-power"}).size(), 1u);
    }
}

}  // namespace
}  // namespace zq::sim
