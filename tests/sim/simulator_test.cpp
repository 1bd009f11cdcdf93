#include <gtest/gtest.h>

#include <tuple>

#include <algorithm>
#include <functional>

#include "df1/crc.h"
#include "sim/memory_map.h"
#include "sim_harness.h"

namespace zq::sim {
namespace {

using testing::Bytes;
using testing::connectRequest;
using testing::getLe;
using testing::Incoming;
using testing::SimHarness;
using testing::uploadInitRequest;
using testing::writeRequest;

const Bytes kStart{'S', 'T', 'A', 'R', 'T', '\r', '\n', 'G'};

SimConfig quickConfig(std::uint32_t plID = 0x10000001) {
    SimConfig config;
    config.plidA = config.plidB = config.plidSecond = plID;
    config.powerOnDelay = millis(50);
    config.eraseTime = millis(40);
    config.eraseSteps = 4;
    return config;
}

Bytes pattern(std::size_t size, std::uint8_t seed) {
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>(seed + i * 13 + (i >> 8));
    return data;
}

// Sends a request that must succeed: a good message CRC, status 1 and the reply opcode of
// CONNECT (1), UPLOADINIT (3), WRITE (4) or EXEC (6). Gives the reply.
Bytes ok(SimHarness& h, const Bytes& request) {
    const std::uint8_t replyOf[] = {0, 0xFE, 0, 0xFC, 0xFB, 0, 0xFA};
    Bytes reply = h.command(request);
    EXPECT_TRUE(reply.size() >= 4 && reply[0] == replyOf[request.at(0)] && reply[1] == 1 &&
                crc16GenibusGood(reply.data(), reply.size()))
        << testing::hex(request) << " -> " << testing::hex(reply);
    return reply;
}

// UPLOADINIT and one WRITE (the tests' blocks are small), as the program loads a block.
void load(SimHarness& h, std::uint32_t address, const Bytes& data) {
    ok(h, uploadInitRequest(address, static_cast<std::uint32_t>(data.size())));
    EXPECT_EQ(ok(h, writeRequest(address, data)).size(), 10u);
}

// Channel switch, L1 CONNECT, daemon upload into the first RAM range, EXEC, L2 CONNECT.
void connect(SimHarness& h, int channel, std::uint32_t plID, const Bytes& daemon) {
    EXPECT_EQ(h.switchChannel(channel), kStart);
    Bytes l1 = ok(h, connectRequest());
    EXPECT_EQ(l1.size(), 9u);
    EXPECT_EQ(getLe(l1, 2, 4), plID);
    EXPECT_EQ(l1[6], 1);
    const MemoryMap map = memoryMapFor(plID);
    auto ram = std::find_if(map.begin(), map.end(),
                            [](const MapRange& r) { return r.kind == RangeKind::Ram; });
    auto entry = static_cast<std::uint32_t>(ram->span.start);
    load(h, entry, daemon);
    ok(h, testing::execRequest(entry));
    EXPECT_EQ(ok(h, connectRequest()).at(6), 2);
}

TEST(SimulatorTest, ChannelSwitchIsAnsweredWithoutAck) {
    for (int type : {7, 4}) {  // the default packet type, then another one configured
        SimConfig config = quickConfig();
        if (type != 7) config.channelReplyType = static_cast<std::uint8_t>(type);
        SimHarness h(config);
        h.send(testing::channelFrame(type == 7 ? 0 : 1));
        h.runFor(millis(10));
        auto in = h.take();
        ASSERT_EQ(in.size(), 1u) << "no DLE ACK before the answer";
        EXPECT_EQ((std::tuple{in[0].kind, in[0].type, in[0].message}),
                  (std::tuple{Incoming::Frame, type, kStart}));
    }
    SimHarness h(quickConfig());
    h.send(testing::pcFrame(0, {'c'}));
    h.runFor(millis(10));
    EXPECT_TRUE(h.take().empty()) << "no channel 2";
    EXPECT_EQ(h.traceWith({"\"op\":\"CHANNEL\"", "not a channel request"}).size(), 1u);
}

TEST(SimulatorTest, ANewRunFindsTheModulePowerCycled) {
    SimHarness h(quickConfig(0x10000100));
    const Bytes daemon = pattern(64, 3);
    connect(h, 1, 0x10000100, daemon);
    EXPECT_EQ(h.erase(0x00A00000, 16).back(), 100);
    load(h, 0x00A00000, pattern(16, 4));
    // A retransmitted L2 CONNECT is answered by the daemon again.
    EXPECT_EQ(h.command(connectRequest()).at(6), 2);

    EXPECT_EQ(h.switchChannel(1), kStart);
    h.send(testing::pcFrame(1, connectRequest()));
    h.runFor(millis(20));
    EXPECT_FALSE(testing::hasFrame(h.take())) << "the boot loader starts after the power-on";
    ASSERT_TRUE(h.runUntil(testing::hasFrame, millis(100)));
    EXPECT_EQ(h.take().back().message.at(6), 1);

    Bytes ram = h.command(testing::readRequest(0x00100000, 64));
    EXPECT_EQ(ram.size(), 74u);
    EXPECT_EQ(Bytes(ram.begin() + 8, ram.end() - 2), Bytes(64, 0x00)) << "RAM lost its daemon";
    Bytes flash = h.command(testing::readRequest(0x00A00000, 16));
    EXPECT_EQ(Bytes(flash.begin() + 8, flash.end() - 2), pattern(16, 4)) << "flash kept";
}

TEST(SimulatorTest, TargetsRefuseWhatRealOnesWould) {
    SimHarness h(quickConfig(0x30000001));
    EXPECT_EQ(h.switchChannel(1), kStart);
    ok(h, connectRequest());
    auto statusOf = [&](const Bytes& request) { return h.command(request).at(1); };
    auto isReject = [&](const Bytes& request) { return h.command(request).at(0) == 0xF7; };

    // Boot loader: RAM only, EXEC only where code was loaded, no flash commands.
    EXPECT_EQ(statusOf(uploadInitRequest(0x00004000, 16)), status::kNotInMap);
    EXPECT_TRUE(isReject(writeRequest(0x20000000, {1, 2}))) << "WRITE without a block announced";
    EXPECT_EQ(statusOf(testing::execRequest(0x20000000)), status::kNoCode);
    EXPECT_TRUE(isReject(testing::eraseRequest(0x00004000, 16)));
    EXPECT_TRUE(isReject(testing::message(0x33)));
    Bytes corrupt = connectRequest();
    corrupt[3] ^= 1;
    EXPECT_TRUE(isReject(corrupt));
    load(h, 0x20000000, pattern(32, 1));
    EXPECT_EQ(statusOf(writeRequest(0x20000020, {1})), status::kOutsideBlock);
    ok(h, testing::execRequest(0x20000010));  // EXEC inside the code
    ok(h, connectRequest());

    // Daemon: flash is written only where erased; an identical rewrite is harmless.
    ok(h, uploadInitRequest(0x00004000, 64));
    EXPECT_EQ(statusOf(writeRequest(0x00004000, pattern(8, 1))), status::kNotErased);
    EXPECT_EQ(h.erase(0x00004000, 32).back(), 100);
    ok(h, uploadInitRequest(0x00004000, 64));
    ok(h, writeRequest(0x00004000, pattern(8, 1)));
    ok(h, writeRequest(0x00004000, pattern(8, 1)));  // same again
    EXPECT_EQ(statusOf(writeRequest(0x00004000, pattern(8, 2))), status::kNotErased);
    EXPECT_EQ(statusOf(writeRequest(0x0000401C, pattern(8, 2))), status::kNotErased)
        << "the last four bytes lie beyond the erased span";
    ok(h, uploadInitRequest(0x80500000, 4));        // Aux
    ok(h, writeRequest(0x80500000, {1, 2, 3, 4}));  // Aux, no erase
    ok(h, writeRequest(0x80500000, {5, 6, 7, 8}));  // Aux rewrite
    EXPECT_EQ(h.erase(0x80500000, 4), (std::vector<int>{-status::kNotInMap}));
    EXPECT_EQ(statusOf(uploadInitRequest(0x00000000, 16)), status::kNotInMap) << "a gap of the map";

    // While an erase runs, the daemon is busy.
    h.send(testing::pcFrame(1, testing::eraseRequest(0x00100000, 64)));
    h.runFor(millis(1));
    h.take();
    EXPECT_TRUE(isReject(testing::readRequest(0x00100000, 4)));
}

TEST(SimulatorTest, PacedLineTakesTheWireTime) {
    SimConfig config = quickConfig();
    config.baud = 9600;
    SimHarness h(config);
    h.send(testing::channelFrame(1));  // 8 bytes out, a 19-byte answer back
    ASSERT_TRUE(h.runUntil(testing::hasFrame, millis(1000)));
    ASSERT_EQ(h.writes().size(), 1u);
    // The request counts as received after its wire time; the answer leaves after its own.
    EXPECT_EQ(h.writes()[0].first, LineModel::wireTime(8, 9600) + LineModel::wireTime(19, 9600));
    EXPECT_EQ(LineModel::wireTime(8, 9600), 8334) << "10 bits a byte, rounded up";
}

TEST(SimulatorTest, PacingLagIsCountedWithoutShiftingTheLine) {
    LineModel line(9600);
    line.send(Bytes(19, 0x55), 0);
    line.send(Bytes(8, 0x55), 0);
    const SimTime first = LineModel::wireTime(19, 9600);
    EXPECT_EQ(line.takeDue(first + 150).size(), 19u) << "the second chunk is not due yet";
    // A chunk that left late does not make the next one later: the line keeps its own time.
    EXPECT_EQ(line.nextDue(), first + LineModel::wireTime(8, 9600));
    line.takeDue(first + LineModel::wireTime(8, 9600) + 40);
    EXPECT_EQ(line.lagTotal(), 190);
    EXPECT_EQ(line.lagMax(), 150);
}

// The faults' own rules, on a module that powers up quickly.
SimConfig withRule(const char* text) {
    SimConfig config = quickConfig(0x30000001);
    config.powerOnDelay = millis(10);
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
        if (i.kind == Incoming::Ack) text += "ACK";
        if (i.kind == Incoming::Nak) text += "NAK";
        if (i.kind == Incoming::BadFrame) text += "BAD(" + i.why + ")";
        if (i.kind == Incoming::Frame) text += i.message.at(0) == 0xF7 ? "REJECT" : "FRAME";
        if (i.kind == Incoming::Frame && !i.messageCrcGood) text += "(bad message crc)";
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
    EXPECT_FALSE(h.command(connectRequest()).empty());
    h.send(testing::pcFrame(1, connectRequest()));
    h.runFor(millis(200));
    return h.take();
}

// The status rule is exercised by the burns against kvsb-sim.
TEST(SimulatorTest, EachReplyFaultShowsOnTheLineAndInTheTrace) {
    // The rule, what the second CONNECT brings, the bytes outside frames.
    const std::tuple<const char*, const char*, std::uint64_t> cases[] = {
        {"nak,on=connect,n=2", "NAK", 0},
        {"lost-ack,on=connect,n=2", "FRAME", 0},
        {"lost-reply,on=connect,n=2", "ACK", 0},
        {"frame-crc,on=connect,n=2", "ACK BAD(crc)", 0},
        {"msg-crc,on=connect,n=2", "ACK FRAME(bad message crc)", 0},
        {"bad-header,on=connect,n=2", "ACK BAD(header)", 0},
        {"bad-xor,on=connect,n=2", "ACK BAD(xor)", 0},
        {"silence,on=connect,n=2", "", 0},
        {"reject,on=connect", "ACK REJECT", 0},
        {"garbage,on=connect,n=2,count=5", "ACK FRAME", 5},
    };
    for (const auto& [rule, seen, noise] : cases) {
        SCOPED_TRACE(rule);
        SimHarness h(withRule(rule));
        EXPECT_EQ(kinds(secondConnect(h)), seen);
        EXPECT_EQ(h.noise(), noise);
        std::string name(rule, std::string(rule).find(','));
        expectTraced(h, name);
    }
}

TEST(SimulatorTest, RetransmissionAfterAFaultIsServed) {
    SimHarness h(withRule("nak,on=connect,n=2"));
    EXPECT_EQ(kinds(secondConnect(h)), "NAK");
    h.send(testing::pcFrame(1, connectRequest()));
    h.runFor(millis(10));
    EXPECT_EQ(kinds(h.take()), "ACK FRAME");
    EXPECT_EQ(h.traceWith({"\"dir\":\"pc\"", "\"attempt\":3"}).size(), 1u)
        << "the same frame a third time";
    EXPECT_EQ(h.sim().stats().repeatedFrames, 2u);
}

// The ACK leaves with the first piece; every later piece alone, 10 ms after the last.
TEST(SimulatorTest, PiecesComeApartInTime) {
    SimHarness h(withRule("pieces,on=connect,n=2,size=4,pause-ms=10"));
    EXPECT_EQ(h.switchChannel(1).size(), 8u);
    h.command(connectRequest());
    const std::size_t before = h.writes().size();
    h.send(testing::pcFrame(1, connectRequest()));
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

TEST(SimulatorTest, DoubleProgressSendsTwoRepliesInOneWrite) {
    SimHarness h(withRule("double-progress,n=1"));
    connect(h, 1, 0x30000001, Bytes(16, 0x60));
    std::size_t before = h.writes().size();
    EXPECT_EQ(h.erase(0x00004000, 64), (std::vector<int>{25, 50, 75, 100}));
    std::vector<std::string> perWrite;
    for (std::size_t i = before; i < h.writes().size(); ++i) {
        std::vector<Incoming> in;
        testing::AdapterReader().feed(h.writes()[i].second, in);
        perWrite.push_back(kinds(in));
    }
    EXPECT_EQ(perWrite, (std::vector<std::string>{"ACK", "FRAME FRAME", "FRAME FRAME"}));
    expectTraced(h, "double-progress");
}

// A weak cell: the daemon answers the WRITE as any good one, only the read-back shows the bit.
TEST(SimulatorTest, ReadBackFindsAWeakCellUnlessTheDaemonCannotRead) {
    const std::tuple<const char*, std::size_t, std::uint8_t> cases[] = {
        {"weak-cell,level=2", 0, 0x01},
        {"weak-cell,level=2,byte=99,bit=7", 7, 0x80},  // past the 8 bytes written: the last
    };
    const Bytes write = writeRequest(0x00004000, pattern(8, 1));
    for (const auto& [rule, at, bit] : cases) {
        SCOPED_TRACE(rule);
        SimHarness h(withRule(rule));
        connect(h, 1, 0x30000001, Bytes(16, 0x60));
        EXPECT_EQ(h.erase(0x00004000, 64).back(), 100);
        ok(h, uploadInitRequest(0x00004000, 8));
        Bytes reply = ok(h, write);
        EXPECT_EQ(Bytes(reply.begin() + 2, reply.end() - 2),
                  Bytes(write.begin() + 2, write.begin() + 8));
        Bytes stored = pattern(8, 1);
        stored[at] ^= bit;
        Bytes back = h.command(testing::readRequest(0x00004000, 8));
        EXPECT_EQ(Bytes(back.begin() + 8, back.end() - 2), stored);
        EXPECT_EQ(h.command(write).at(1), status::kNotErased) << "flash holds other data now";
        expectTraced(h, "weak-cell");
    }
    SimConfig config = quickConfig(0x30000001);
    config.noRead = true;
    SimHarness h(config);
    connect(h, 1, 0x30000001, Bytes(16, 0x60));
    EXPECT_EQ(h.command(testing::readRequest(0x00004000, 8)), testing::message(0xF7, {0x08, 1}));
    EXPECT_EQ(h.switchChannel(1), kStart);
    ok(h, connectRequest());  // a new run: the boot loader, which reads
    EXPECT_EQ(h.command(testing::readRequest(0x00004000, 8)).size(), 18u);
}

TEST(SimulatorTest, SilenceLastsAndLatePowerOutlastsATimeout) {
    {
        SimHarness h(withRule("silence,n=3"));
        EXPECT_EQ(kinds(secondConnect(h)), "");
        h.send(testing::channelFrame(1));
        h.runFor(millis(1000));
        EXPECT_TRUE(h.take().empty()) << "no channel answer either";
    }
    {
        SimHarness h(withRule("late-power,ms=7000"));
        EXPECT_EQ(h.switchChannel(1).size(), 8u);
        h.send(testing::pcFrame(1, connectRequest()));
        h.runFor(millis(6999));
        EXPECT_EQ(kinds(h.take()), "ACK");
        h.runFor(millis(2));
        EXPECT_EQ(kinds(h.take()), "FRAME");
        EXPECT_EQ(h.traceWith({"POWER-ON", "late-power"}).size(), 1u);
    }
}

}  // namespace
}  // namespace zq::sim
