#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/temp_dir.h"
#include "df1/crc.h"
#include "sim/memory_map.h"
#include "sim_harness.h"

namespace zq::sim {
namespace {

using testing::Bytes;
using testing::getLe;
using testing::Incoming;
using testing::SimHarness;

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

std::string fileOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string asText(const Bytes& bytes) {
    return {bytes.begin(), bytes.end()};
}

// The bytes of a dump file at an offset, compared without printing megabytes on a mismatch.
::testing::AssertionResult holds(const std::filesystem::path& file, std::size_t offset,
                                 const Bytes& expected) {
    std::string text = fileOf(file);
    if (text.size() < offset + expected.size())
        return ::testing::AssertionFailure()
               << file.filename() << " has " << text.size() << " bytes, expected at least "
               << offset + expected.size();
    for (std::size_t i = 0; i < expected.size(); ++i)
        if (static_cast<std::uint8_t>(text[offset + i]) != expected[i])
            return ::testing::AssertionFailure()
                   << file.filename() << " differs at offset " << offset + i;
    return ::testing::AssertionSuccess();
}

std::string dumpName(Address address) {
    char name[16];
    std::snprintf(name, sizeof name, "%08llX.bin", static_cast<unsigned long long>(address));
    return name;
}

// Checks status 1 and the message CRC of a reply with this opcode.
void expectOk(const Bytes& reply, std::uint8_t opcode, const char* what) {
    ASSERT_GE(reply.size(), 4u) << what;
    EXPECT_EQ(reply[0], opcode) << what << ": " << testing::hex(reply);
    EXPECT_EQ(reply[1], 1) << what << ": " << testing::hex(reply);
    EXPECT_TRUE(crc16GenibusGood(reply.data(), reply.size())) << what;
}

// UPLOADINIT and WRITEs of at most 496 bytes, as the program loads a block.
void load(SimHarness& h, std::uint32_t address, const Bytes& data) {
    expectOk(
        h.command(testing::uploadInitRequest(address, static_cast<std::uint32_t>(data.size()))),
        0xFC, "UPLOADINIT");
    for (std::size_t at = 0; at < data.size(); at += 496) {
        Bytes chunk(data.begin() + static_cast<long>(at),
                    data.begin() + static_cast<long>(std::min(data.size(), at + 496)));
        Bytes reply =
            h.command(testing::writeRequest(address + static_cast<std::uint32_t>(at), chunk));
        expectOk(reply, 0xFB, "WRITE");
        EXPECT_EQ(reply.size(), 10u);
    }
}

const MapRange& firstOf(const MemoryMap& map, RangeKind kind) {
    for (const MapRange& range : map)
        if (range.kind == kind) return range;
    throw std::runtime_error("no such range");
}

// Channel switch, L1 CONNECT, daemon upload into the first RAM range, EXEC, L2 CONNECT.
Bytes connect(SimHarness& h, int channel, std::uint32_t plID, const Bytes& daemon) {
    EXPECT_EQ(h.switchChannel(channel), kStart);
    Bytes l1 = h.command(testing::connectRequest());
    expectOk(l1, 0xFE, "L1 CONNECT");
    EXPECT_EQ(l1.size(), 9u);
    EXPECT_EQ(getLe(l1, 2, 4), plID);
    EXPECT_EQ(l1[6], 1);
    const MemoryMap map = memoryMapFor(plID);
    auto entry = static_cast<std::uint32_t>(firstOf(map, RangeKind::Ram).span.start);
    load(h, entry, daemon);
    expectOk(h.command(testing::execRequest(entry)), 0xFA, "EXEC");
    Bytes l2 = h.command(testing::connectRequest());
    expectOk(l2, 0xFE, "L2 CONNECT");
    EXPECT_EQ(l2[6], 2);
    return l2;
}

TEST(SimulatorTest, ChannelSwitchIsAnsweredWithoutAck) {
    SimHarness h(quickConfig());
    h.send(testing::channelFrame(0));
    h.runFor(millis(10));
    auto in = h.take();
    ASSERT_EQ(in.size(), 1u) << "no DLE ACK before the answer";
    EXPECT_EQ(in[0].kind, Incoming::Frame);
    EXPECT_EQ(in[0].type, 7);
    EXPECT_EQ(in[0].message, kStart);

    SimConfig typeFour = quickConfig();
    typeFour.channelReplyType = 4;
    SimHarness h4(typeFour);
    h4.send(testing::channelFrame(1));
    h4.runFor(millis(10));
    in = h4.take();
    ASSERT_EQ(in.size(), 1u);
    EXPECT_EQ(in[0].type, 4);

    h4.send(testing::pcFrame(0, {'c'}));
    h4.runFor(millis(10));
    EXPECT_TRUE(h4.take().empty()) << "no channel 2";
    EXPECT_EQ(h4.traceWith({"\"op\":\"CHANNEL\"", "not a channel request"}).size(), 1u);
}

class EveryPlatformTest : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(EveryPlatformTest, ConnectsAndBurnsEveryRangeOfTheMap) {
    const std::uint32_t plID = GetParam();
    SimConfig config = quickConfig(plID);
    config.l2plid = plID;
    SimHarness h(config);
    const MemoryMap map = memoryMapFor(plID);
    ASSERT_FALSE(map.empty());

    // The boot loader answers only once the operator has switched the power on.
    EXPECT_EQ(h.switchChannel(1), kStart);
    h.send(testing::pcFrame(1, testing::connectRequest()));
    h.runFor(millis(49));
    auto early = h.take();
    ASSERT_EQ(early.size(), 1u);
    EXPECT_EQ(early[0].kind, Incoming::Ack);
    ASSERT_TRUE(h.runUntil(testing::hasFrame, millis(10)));
    Bytes l1 = h.take().at(0).message;
    EXPECT_EQ(getLe(l1, 2, 4), plID);

    const Bytes daemon = pattern(600, 0x31);
    const MapRange& ram = firstOf(map, RangeKind::Ram);
    auto entry = static_cast<std::uint32_t>(ram.span.start);
    load(h, entry, daemon);
    expectOk(h.command(testing::execRequest(entry)), 0xFA, "EXEC");
    Bytes l2 = h.command(testing::connectRequest());
    expectOk(l2, 0xFE, "L2 CONNECT");
    EXPECT_EQ(l2[6], 2);

    std::map<Address, std::pair<Address, Bytes>> burned;  // address -> (dump file start, data)
    std::uint8_t seed = 1;
    for (const MapRange& range : map) {
        if (range.kind == RangeKind::Ram) continue;
        // A block at the start of the range and, for the range at the top of the address
        // space, one that ends at 0xFFFFFFFF.
        std::vector<Address> starts{range.span.start};
        if (range.span.end() == 0x100000000ull) starts.push_back(range.span.end() - 1000);
        for (Address start : starts) {
            SCOPED_TRACE(testing::hex({static_cast<std::uint8_t>(start >> 24)}));
            Bytes data = pattern(1000, seed++);
            auto address = static_cast<std::uint32_t>(start);
            if (range.kind == RangeKind::Flash) {
                EXPECT_EQ(h.erase(address, 1000), (std::vector<int>{25, 50, 75, 100}));
            }
            load(h, address, data);
            burned[start] = {starts.front(), data};
        }
    }

    zq::testing::TempDir dir;
    std::string error;
    ASSERT_TRUE(h.sim().writeDump(dir.path(), error)) << error;
    std::filesystem::path ch1 = dir.path() / "ch1";
    EXPECT_EQ(fileOf(ch1 / dumpName(entry)), asText(daemon));
    // Blocks in one range share its file, which runs from the first to the last byte written.
    for (const auto& [start, file] : burned)
        EXPECT_TRUE(holds(ch1 / dumpName(file.first), start - file.first, file.second));
    EXPECT_EQ(fileOf(ch1 / dumpName(burned.rbegin()->second.first)).size(),
              burned.rbegin()->first + 1000 - burned.rbegin()->second.first);
    std::string index = fileOf(ch1 / "index.json");
    EXPECT_NE(index.find("\"level\":2"), std::string::npos) << index;
    EXPECT_NE(index.find("\"kind\":\"Ram\""), std::string::npos) << index;
    EXPECT_TRUE(fileOf(dir.path() / "ch0" / "index.json").find("\"blocks\":[]") !=
                std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Catalogue, EveryPlatformTest,
                         ::testing::Values(0x10000001u, 0x10000002u, 0x10000100u, 0x10000200u,
                                           0x20000003u, 0x20000001u, 0x20000002u, 0x30000001u),
                         [](const ::testing::TestParamInfo<std::uint32_t>& param) {
                             char name[16];
                             std::snprintf(name, sizeof name, "plid%08X", param.param);
                             return std::string(name);
                         });

TEST(SimulatorTest, DoubleUnitKeepsBothProcessorsApart) {
    SimHarness h(quickConfig(0x20000001));
    const Bytes daemon = pattern(300, 9);
    // The program's order: both L1 CONNECTs first, then each processor's daemon.
    EXPECT_EQ(h.switchChannel(0), kStart);
    expectOk(h.command(testing::connectRequest()), 0xFE, "A L1");
    EXPECT_EQ(h.switchChannel(1), kStart);
    Bytes b1 = h.command(testing::connectRequest(), millis(5));
    expectOk(b1, 0xFE, "B L1 (powered with A)");
    for (int channel : {0, 1}) {
        EXPECT_EQ(h.switchChannel(channel), kStart);
        load(h, 0, daemon);
        expectOk(h.command(testing::execRequest(0)), 0xFA, "EXEC");
        expectOk(h.command(testing::connectRequest()), 0xFE, "L2");
    }
    const Bytes dataA = pattern(700, 1), dataB = pattern(700, 2);
    for (int channel : {0, 1}) {
        EXPECT_EQ(h.switchChannel(channel), kStart);
        EXPECT_EQ(h.erase(0xFFF40000, 700).back(), 100);
        load(h, 0xFFF40000, channel == 0 ? dataA : dataB);
    }
    zq::testing::TempDir dir;
    std::string error;
    ASSERT_TRUE(h.sim().writeDump(dir.path(), error)) << error;
    EXPECT_TRUE(holds(dir.path() / "ch0" / "FFF40000.bin", 0, dataA));
    EXPECT_TRUE(holds(dir.path() / "ch1" / "FFF40000.bin", 0, dataB));
    EXPECT_EQ(h.traceWith({"POWER-ON"}).size(), 1u) << "A and B share one power switch";
}

TEST(SimulatorTest, SecondModuleIsReachedAfterTheFirstOnesBurn) {
    SimConfig config = quickConfig(0x10000001);
    config.secondModule = true;
    config.plidSecond = 0x10000002;
    SimHarness h(config);
    const Bytes daemon = pattern(200, 5);
    connect(h, 1, 0x10000001, daemon);
    EXPECT_EQ(h.erase(0x00010000, 500).back(), 100);
    load(h, 0x00010000, pattern(500, 1));

    // The operator moves the adapter to the right module; the next run starts there.
    connect(h, 1, 0x10000002, daemon);
    EXPECT_EQ(h.erase(0x00010000, 500).back(), 100);
    load(h, 0x00010000, pattern(500, 2));
    EXPECT_EQ(h.traceWith({"\"op\":\"MODULE\""}).size(), 1u);

    zq::testing::TempDir dir;
    std::string error;
    ASSERT_TRUE(h.sim().writeDump(dir.path(), error)) << error;
    EXPECT_EQ(fileOf(dir.path() / "ch1" / "00010000.bin"), asText(pattern(500, 1)));
    EXPECT_EQ(fileOf(dir.path() / "ch1-second" / "00010000.bin"), asText(pattern(500, 2)));
}

TEST(SimulatorTest, ANewRunFindsTheModulePowerCycled) {
    SimHarness h(quickConfig(0x10000100));
    const Bytes daemon = pattern(64, 3);
    connect(h, 1, 0x10000100, daemon);
    EXPECT_EQ(h.erase(0x00A00000, 16).back(), 100);
    load(h, 0x00A00000, pattern(16, 4));
    // A retransmitted L2 CONNECT is answered by the daemon again.
    EXPECT_EQ(h.command(testing::connectRequest()).at(6), 2);

    EXPECT_EQ(h.switchChannel(1), kStart);
    h.send(testing::pcFrame(1, testing::connectRequest()));
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
    expectOk(h.command(testing::connectRequest()), 0xFE, "L1");
    auto statusOf = [&](const Bytes& request) { return h.command(request).at(1); };
    auto isReject = [&](const Bytes& request) { return h.command(request).at(0) == 0xF7; };

    // Boot loader: RAM only, EXEC only where code was loaded, no flash commands.
    EXPECT_EQ(statusOf(testing::uploadInitRequest(0x00004000, 16)), status::kNotInMap);
    EXPECT_TRUE(isReject(testing::writeRequest(0x20000000, {1, 2})))
        << "WRITE without a block announced";
    EXPECT_EQ(statusOf(testing::execRequest(0x20000000)), status::kNoCode);
    EXPECT_TRUE(isReject(testing::eraseRequest(0x00004000, 16)));
    EXPECT_TRUE(isReject(testing::message(0x33)));
    Bytes corrupt = testing::connectRequest();
    corrupt[3] ^= 1;
    EXPECT_TRUE(isReject(corrupt));
    load(h, 0x20000000, pattern(32, 1));
    EXPECT_EQ(statusOf(testing::writeRequest(0x20000020, {1})), status::kOutsideBlock);
    expectOk(h.command(testing::execRequest(0x20000010)), 0xFA, "EXEC inside the code");
    expectOk(h.command(testing::connectRequest()), 0xFE, "L2");

    // Daemon: flash is written only where erased; an identical rewrite is harmless.
    expectOk(h.command(testing::uploadInitRequest(0x00004000, 64)), 0xFC, "UPLOADINIT");
    EXPECT_EQ(statusOf(testing::writeRequest(0x00004000, pattern(8, 1))), status::kNotErased);
    EXPECT_EQ(h.erase(0x00004000, 32).back(), 100);
    expectOk(h.command(testing::uploadInitRequest(0x00004000, 64)), 0xFC, "UPLOADINIT");
    expectOk(h.command(testing::writeRequest(0x00004000, pattern(8, 1))), 0xFB, "WRITE");
    expectOk(h.command(testing::writeRequest(0x00004000, pattern(8, 1))), 0xFB, "same again");
    EXPECT_EQ(statusOf(testing::writeRequest(0x00004000, pattern(8, 2))), status::kNotErased);
    EXPECT_EQ(statusOf(testing::writeRequest(0x0000401C, pattern(8, 2))), status::kNotErased)
        << "the last four bytes lie beyond the erased span";
    expectOk(h.command(testing::uploadInitRequest(0x80500000, 4)), 0xFC, "Aux");
    expectOk(h.command(testing::writeRequest(0x80500000, {1, 2, 3, 4})), 0xFB, "Aux, no erase");
    expectOk(h.command(testing::writeRequest(0x80500000, {5, 6, 7, 8})), 0xFB, "Aux rewrite");
    EXPECT_EQ(h.erase(0x80500000, 4), (std::vector<int>{-status::kNotInMap}));
    EXPECT_EQ(statusOf(testing::uploadInitRequest(0x00000000, 16)), status::kNotInMap)
        << "a gap of the map";

    // While an erase runs, the daemon is busy.
    h.send(testing::pcFrame(1, testing::eraseRequest(0x00100000, 64)));
    h.runFor(millis(1));
    h.take();
    EXPECT_TRUE(isReject(testing::readRequest(0x00100000, 4)));
}

TEST(SimulatorTest, ReplyFormsOfTheOtherCommands) {
    SimHarness h(quickConfig(0x20000003));
    connect(h, 1, 0x20000003, pattern(16, 1));
    Bytes read = h.command(testing::readRequest(0x00000004, 8));
    expectOk(read, 0xF8, "READ");
    EXPECT_EQ(read.size(), 18u);
    const Bytes daemon = pattern(16, 1);
    EXPECT_EQ(Bytes(read.begin() + 8, read.begin() + 16),
              Bytes(daemon.begin() + 4, daemon.begin() + 12));
    Bytes tooLong = h.command(testing::readRequest(0x00000000, 494));
    EXPECT_EQ(tooLong.size(), 10u);
    EXPECT_EQ(tooLong[1], 0xFF);

    Bytes cmd7 = h.command(testing::message(0x07));
    expectOk(cmd7, 0xF9, "CMD7");
    EXPECT_EQ(cmd7.size(), 4u);

    Bytes search = h.command(testing::message(0x09, {0x00}));
    expectOk(search, 0xF6, "IDSEARCH");
    ASSERT_EQ(search.size(), 5u + 16u);
    EXPECT_EQ(search[2], 0x00);
    Bytes none = h.command(testing::message(0x09, {0x07}));
    EXPECT_EQ(none.size(), 5u);
    EXPECT_EQ(none[1], 0xFF);

    Bytes chip(search.begin() + 11, search.begin() + 19);
    Bytes fields = chip;
    fields.insert(fields.end(), {0x10, 0x05});
    Bytes idRead = h.command(testing::message(0x0A, fields));
    expectOk(idRead, 0xF5, "IDREAD");
    EXPECT_EQ(idRead.size(), 5u + 14u);
    EXPECT_EQ(Bytes(idRead.begin() + 2, idRead.begin() + 10), chip);
    fields[0] ^= 1;
    Bytes unknown = h.command(testing::message(0x0A, fields));
    EXPECT_EQ(unknown.size(), 14u);
    EXPECT_EQ(unknown[1], 0xFF);
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
    std::string summary = h.sim().summary(h.now());
    EXPECT_NE(summary.find("bytes: PC->adapter 8, adapter->PC 19"), std::string::npos) << summary;
    EXPECT_NE(summary.find("wire time at 9600 Bd: PC->adapter 0.008 s, adapter->PC 0.020 s, "
                           "total 0.028 s (line paced)"),
              std::string::npos)
        << summary;
    EXPECT_NE(summary.find("pacing lag: 0.000 ms in all over 1 chunks"), std::string::npos)
        << summary;
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

}  // namespace
}  // namespace zq::sim
