#include "engine/programming_engine.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/daemon_images.h"
#include "engine_fixture.h"
#include "image/elf_writer.h"
#include "image/reader_harness.h"
#include "sim/memory_map.h"
#include "support/text.h"
#include "tools/omf_writer.h"

namespace zq::testing {
namespace {

constexpr std::uint8_t kSwitch = 0x00, kConnect = 0x01, kErase = 0x02, kUploadInit = 0x03,
                       kWrite = 0x04, kExec = 0x06, kRead = 0x08;
using Fault = ScriptedTarget::Fault;

// "channel:opcode:level" of every request the far side saw (but WRITEs, if `skipWrites`).
std::string trail(const ScriptedTarget& target, bool skipWrites = false) {
    std::string out;
    char one[40];
    for (const SeenCommand& c : target.commands())
        if (!skipWrites || c.opcode != kWrite)
            out += (std::snprintf(one, sizeof one, " %d:%d:%d", c.channel, c.opcode, c.level), one);
    return out;
}

using ProgrammingEngineTest = EngineTest;

class ShortTimeoutEngineTest : public EngineTest {
protected:
    ShortTimeoutEngineTest() : EngineTest(kShortTimeouts) {}
};

bool wasShown(const std::vector<Shown>& shown, const std::string& text) {
    for (const Shown& s : shown)
        if (s.infoText == text) return true;
    return false;
}

// Channel 1, the boot loader, the carrier boards' daemon into both RAM ranges in map order,
// EXEC, then the daemon with its own time-out; the device is named only once that succeeded.
TEST_F(ProgrammingEngineTest, TheDaemonGoesIntoTheRamRangesInMapOrderBeforeTheL2Connect) {
    engine.startConnect(false);
    EXPECT_EQ(engine.deviceName(), "NO DEVICE");
    run();
    ASSERT_EQ(engine.state(), EngineState::Succeeded) << engine.errorText();
    EXPECT_EQ(engine.infoText(), "Connect successful (plID=0x10000001)");
    EXPECT_EQ(engine.deviceName(), "XC167 @ QB5 + dualBridge (AMD)");
    const std::vector<SeenCommand> c = target.commands();
    // switch, L1 CONNECT, the daemon's two ranges, EXEC, L2 CONNECT
    EXPECT_EQ(trail(target), " 1:0:0 1:1:1 1:3:1 1:4:1 1:4:1 1:3:1 1:4:1 1:6:1 1:1:2");
    EXPECT_EQ(c[2].address, 0x00400000u);
    EXPECT_EQ(c[5].address, 0x00E00000u);
    EXPECT_EQ(c[8].armedMs, 15000u) << "the daemon's CONNECT";
    for (const char* text : {"Sending L1 CONNECT command",
                             "Preparing for writing memory range 0x00400000 - 0x004001FF",
                             "Writing memory range 0x00E00000 - 0x00E00005 (6 B)",
                             "Executing L2 daemon", "Sending L2 CONNECT command"})
        EXPECT_TRUE(wasShown(shown, text)) << text;
    EXPECT_EQ(acknowledged(), EngineState::Connected);
    EXPECT_EQ(engine.infoText(), "");
}

TEST_F(ProgrammingEngineTest, ABurnWritesEveryBlockAndADisconnectForgetsTheDevice) {
    connect();
    const std::string data = pattern(600);
    ImageSource image(omfPedata(0x00D00000, data) + omfPedata(0x00010000, "boot"));
    engine.burn(image.source());
    EXPECT_FALSE(engine.isPreparing());
    run();
    ASSERT_EQ(engine.state(), EngineState::Succeeded) << engine.errorText();
    EXPECT_EQ(engine.infoText(), "Burn operation successful");
    EXPECT_EQ(engine.progress(), 255);
    EXPECT_EQ(target.bytesAt(1, 0x00D00000, 600), data);
    EXPECT_EQ(target.bytesAt(1, 0x00010000, 4), "boot");
    EXPECT_EQ(acknowledged(), EngineState::Connected);
    engine.disconnect();
    EXPECT_EQ(engine.state(), EngineState::Idle);
    EXPECT_EQ(engine.deviceName(), "NO DEVICE");
    EXPECT_EQ(engine.plID(), 0u);
}

// The whole daemon, and nothing else, goes up, and EXEC starts it at its entry.
TEST_F(ProgrammingEngineTest, EveryPlatformGetsItsGroupsDaemonAndStartsAtItsEntry) {
    for (const sim::Board& board : sim::boards()) {
        SCOPED_TRACE(board.name);
        target.setPlID(1, board.plID);
        const std::size_t before = target.commands().size();
        connect();
        EXPECT_EQ(engine.deviceName(), board.name);
        ReaderHarness daemon(createImageReader(board.plID));
        const EmbeddedFile& f = daemonImages()[daemonIndexFor(board.plID)].file;
        ASSERT_TRUE(daemon.load(std::string(reinterpret_cast<const char*>(f.data), f.size), true));
        std::size_t written = 0;
        const std::vector<SeenCommand> c = target.commands();
        for (std::size_t i = before; i < c.size(); ++i)
            if (c[i].opcode == kWrite) written += c[i].length;
        EXPECT_EQ(written, imageDataBytes(daemon.reader()));
        ASSERT_FALSE(seen(kExec).empty());
        EXPECT_EQ(seen(kExec).back().address, daemon.reader().entryAddress());
        engine.disconnect();
    }
}

// The burn of both images is the main dialog's to check: it runs them against the same far side.
TEST_F(ProgrammingEngineTest, ADoubleUnitConnectsBothBootLoadersBeforeEitherDaemon) {
    target.setPlID(0, 0x20000001);
    target.setPlID(1, 0x20000001);
    engine.startConnect(true);
    run();
    ASSERT_EQ(engine.state(), EngineState::Succeeded) << engine.errorText();
    // A: switch, CONNECT; B: switch, CONNECT; then each in turn: switch, its one daemon range,
    // EXEC, L2 CONNECT
    EXPECT_EQ(trail(target, true),
              " 0:0:0 0:1:1 1:0:0 1:1:1 0:0:0 0:3:1 0:6:1 0:1:2 1:0:0 1:3:1 1:6:1 1:1:2");
    EXPECT_TRUE(wasShown(shown, "A: Executing L2 daemon"));
    EXPECT_TRUE(wasShown(shown, "B: Sending L2 CONNECT command"));
}

// Verify reads back every block in the order written, in READs of at most 493 bytes, and the
// first byte that differs from the image ends the burn with both values.
TEST_F(ProgrammingEngineTest, AVerifiedBurnReadsEveryByteBackAndNamesTheFirstThatDiffers) {
    engine.setVerify(true);
    connect();
    const std::string data = pattern(1200);
    ImageSource image(omfPedata(0x00D00000, data) + omfPedata(0x00010000, "boot"));
    engine.burn(image.source());
    run();
    ASSERT_EQ(engine.state(), EngineState::Succeeded) << engine.errorText();
    std::string reads;
    for (const SeenCommand& c : seen(kRead))
        reads += formatText(" %d:%08X+%u", c.level, c.address, c.length);
    EXPECT_EQ(reads, " 2:00010000+4 2:00D00000+493 2:00D001ED+493 2:00D003DA+214");
    EXPECT_TRUE(wasShown(shown, "Verifying memory range 0x00D00000 - 0x00D004AF (707 B)"));
    EXPECT_EQ(acknowledged(), EngineState::Connected);

    target.setFault(kWrite, static_cast<int>(target.count(kWrite)) + 2, Fault::WeakCell);
    engine.burn(image.source());
    run();
    EXPECT_EQ(outcome(), formatText("Failed: Verify failed at 0x00D00000: image 0x%02X, module "
                                    "0x%02X",
                                    static_cast<std::uint8_t>(data[0]),
                                    static_cast<std::uint8_t>(data[0] ^ 1)));
    EXPECT_EQ(acknowledged(), EngineState::Connected);
}

// A then B: each image is read back right after its own burn, before the switch to the other.
TEST_F(ProgrammingEngineTest, ADoubleUnitVerifiesEachProcessorBeforeTheNext) {
    for (int channel : {0, 1}) target.setPlID(channel, 0x30000001);
    engine.setVerify(true);
    connect(true);
    ElfWriter w;
    w.text(".text", 0x00004000, pattern(64));
    ImageSource image(w.build());
    const std::size_t before = target.commands().size();
    engine.burnDouble(image.source(), image.source());
    run();
    ASSERT_EQ(engine.state(), EngineState::Succeeded) << engine.errorText();
    std::string order;
    const std::vector<SeenCommand> c = target.commands();
    for (std::size_t i = before; i < c.size(); ++i)
        if (c[i].opcode == kSwitch || c[i].opcode == kWrite || c[i].opcode == kRead)
            order += formatText(" %d:%d", c[i].channel, c[i].opcode);
    EXPECT_EQ(order, " 0:0 0:4 0:8 1:0 1:4 1:8");
}

// The count of a request spans both processors from the start: B's image is read ahead. A flash
// block counts its whole length for the erase (by the daemon's percent), its image bytes for
// the writes and again for the read-back; an Aux block only the latter two. A check counts
// what it reads.
TEST_F(ProgrammingEngineTest, TheCountOfARequestCoversBothProcessorsEveryRangeAndPass) {
    for (int channel : {0, 1}) target.setPlID(channel, 0x30000001);
    engine.setVerify(true);
    connect(true);
    ElfWriter a, b;
    a.text(".text", 0x00004000, pattern(16))
        .text(".data", 0x00004100, pattern(16, 3))
        .text(".aux", 0x80500010, pattern(100, 5));
    b.text(".text", 0x00004000, pattern(64, 9));
    ImageSource imageA(a.build()), imageB(b.build());
    std::vector<std::uint64_t> done;
    auto runCounting = [&](std::uint64_t total) {
        done.clear();
        pump([this] { return engine.state() == EngineState::Busy; },
             [&] {
                 engine.step();
                 if (engine.bytesTotal() != 0) {
                     EXPECT_EQ(engine.bytesTotal(), total);
                     EXPECT_TRUE(done.empty() || engine.bytesDone() >= done.back());
                     done.push_back(engine.bytesDone());
                 }
                 return Shown{engine.infoText(), engine.progress()};
             },
             100000);
        ASSERT_EQ(engine.state(), EngineState::Succeeded) << engine.errorText();
        ASSERT_FALSE(done.empty());
        EXPECT_EQ(done.back(), total);
        engine.acknowledge();
    };
    const std::uint64_t workA = 0x110 + 2 * (32 + 100), workB = 64 + 2 * 64;
    engine.burnDouble(imageA.source(), imageB.source());
    runCounting(workA + workB);
    // Half of each erase, as the daemon reports 50 %.
    for (std::uint64_t halfway : {std::uint64_t{0x110 / 2}, workA + 64 / 2})
        EXPECT_NE(std::find(done.begin(), done.end(), halfway), done.end()) << halfway;

    engine.checkDouble({&imageA.source()}, {&imageB.source()});
    runCounting(0x110 + 100 + 64);
    engine.disconnect();
    EXPECT_EQ(engine.bytesTotal(), 0u);
}

// Proof that cannot be had is no proof: a daemon that rejects READ fails the burn, and an abort
// during the read-back leaves the target connected, as during the burn.
TEST_F(ProgrammingEngineTest, AVerifyThatCannotReadOrIsAbortedFails) {
    target.setPlID(1, 0x10000001, std::nullopt, false);
    engine.setVerify(true);
    connect();
    ImageSource image(omfPedata(0x00010000, pattern(4000)));
    engine.burn(image.source());
    run();
    EXPECT_EQ(outcome(), "Failed: Verify not possible: the daemon refused READ at 0x00010000");
    EXPECT_EQ(acknowledged(), EngineState::Connected);

    target.setPlID(1, 0x10000001);
    engine.disconnect();
    connect();
    engine.burn(image.source());
    runUntil(EngineStep::Verify);
    run(2);
    ASSERT_EQ(engine.currentStep(), EngineStep::Verify);
    engine.abort();
    EXPECT_EQ(outcome(), "Failed: User abort");
    EXPECT_EQ(acknowledged(), EngineState::Connected);
}

TEST_F(ProgrammingEngineTest, AFailedBurnOfANeverSwitchesToB) {
    target.setPlID(0, 0x30000001);
    target.setPlID(1, 0x30000001);
    connect(true);
    target.setFault(kWrite, static_cast<int>(target.count(kWrite, 0)) + 1, Fault::ErrorStatus, 0);
    ElfWriter w;
    w.text(".text", 0x00004000, pattern(64));
    ImageSource image(w.build());
    const std::size_t switches = target.count(kSwitch);
    engine.burnDouble(image.source(), image.source());
    run();
    EXPECT_EQ(outcome(), "Failed: Error while writing 64 bytes to 0x00004000");
    EXPECT_FALSE(engine.isPreparing());
    EXPECT_EQ(target.count(kSwitch), switches + 1) << "only the switch to A";
    EXPECT_EQ(target.count(kErase, 1), 0u);
    EXPECT_EQ(acknowledged(), EngineState::Connected);
}

TEST_F(ProgrammingEngineTest, ConnectsToTheWrongTargetsFailWithTheirReasons) {
    struct Case {
        std::uint32_t a, b;
        std::optional<std::uint32_t> l2;
        bool doubleProcessor;
        const char* error;
        std::uint8_t lastOpcode;
    } cases[] = {
        {0x10000001,
         0x10000002,
         {},
         true,
         "Different platforms (0x10000002 != 0x10000001)",
         kConnect},
        // A known family, but no such variant.
        {0, 0x10000003, {}, false, "Unsupported platform (0x10000003)", kConnect},
        {0, 0x10000001, 0x20000001, false,
         "L2 plID (0x20000001) doesn't match L1 plID (0x10000001)", kConnect},
        // A's daemon names the module boards, whose daemon has bytes in the carrier boards'
        // flash: B's upload is refused at once, before any command.
        {0x10000001, 0x10000001, 0x10000100, true,
         "Unexpected use of memory range 0x00100000 - 0x001FFFFF", kSwitch},
        // B's daemon is chosen by what A's daemon reported; no daemon serves 0x10000003.
        {0x10000001, 0x10000001, 0x10000003, true, "Unsupported platform (0x10000003)", kSwitch},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        target.setPlID(0, c.a, c.l2);
        target.setPlID(1, c.b, c.l2);
        engine.startConnect(c.doubleProcessor);
        run();
        EXPECT_EQ(outcome(), std::string("Failed: ") + c.error);
        EXPECT_EQ(engine.deviceName(), "NO DEVICE");
        EXPECT_EQ(target.commands().back().opcode, c.lastOpcode);
        if (c.l2 == 0x10000003u) {
            EXPECT_EQ(takeFailures(), std::vector{require("daemon for plID")});
        }
        EXPECT_EQ(acknowledged(), EngineState::Idle);
    }
}

TEST_F(ProgrammingEngineTest, ADaemonOfAnotherVariantNamesTheDeviceButTheMapStays) {
    target.setPlID(1, 0x20000003, 0x20000002);
    connect();
    EXPECT_EQ(engine.plID(), 0x20000002u);
    EXPECT_EQ(engine.deviceName(), "MPC8270 @ CM61/CM62 (32MB FLASH)");
    // 0xFF000000 is flash of the 32 MB board but a gap in the 8 MB board's map.
    ElfWriter w;
    w.text(".text", 0xFF000000, pattern(16));
    ImageSource image(w.build());
    const std::size_t before = target.commands().size();
    engine.burn(image.source());
    EXPECT_EQ(engine.state(), EngineState::Failed);
    EXPECT_EQ(engine.errorText(),
              "Block 0xFF000000-0xFF00000F doesn't fit into device's memory map");
    EXPECT_EQ(target.commands().size(), before) << "refused before any command";
    EXPECT_EQ(engine.currentStep(), EngineStep::Ready);
    EXPECT_EQ(acknowledged(), EngineState::Connected);
}

TEST_F(ShortTimeoutEngineTest, ConnectsThatTheLineLetsDownFailAtTheirStep) {
    struct Case {
        std::uint8_t opcode;
        int n;
        Fault fault;
        const char* error;
    } cases[] = {
        {kSwitch, 1, Fault::NoAnswerAtAll, "Unable to switch convertor channel"},
        {kConnect, 1, Fault::NoAnswerAtAll, "L1-connect communication error"},
        {kWrite, 2, Fault::ErrorStatus, "Error while writing 16 bytes to 0x004001F0"},
        {kExec, 1, Fault::ErrorStatus, "EXEC command not successful"},
        {kExec, 1, Fault::NoAnswerAtAll, "EXEC command not successful"},
        {kConnect, 2, Fault::Silent, "L2-connect communication error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        target.clearFaults();
        // Counted from the start of this connect.
        target.setFault(c.opcode, static_cast<int>(target.count(c.opcode)) + c.n, c.fault);
        engine.startConnect(false);
        run();
        EXPECT_EQ(outcome(), std::string("Failed: ") + c.error);
        EXPECT_EQ(engine.currentStep(), EngineStep::Unconnected);
        EXPECT_EQ(acknowledged(), EngineState::Idle);
    }
}

TEST_F(ProgrammingEngineTest, ABurnThatCannotStartLeavesTheTargetConnected) {
    connect();
    ImageSource broken(omfPedata(0x10000, "ab").substr(0, 6));
    engine.burn(broken.source());
    EXPECT_EQ(outcome(), "Failed: Chyba kontrolniho souctu zaznamu c.0");
    EXPECT_FALSE(engine.isPreparing());
    EXPECT_EQ(acknowledged(), EngineState::Connected);
}

TEST_F(ProgrammingEngineTest, AbortKeepsABurnConnectedAndDropsAConnect) {
    connect();
    ImageSource image(omfPedata(0x10000, pattern(4000)));
    engine.burn(image.source());
    run(5);
    ASSERT_EQ(engine.state(), EngineState::Busy);
    ASSERT_EQ(engine.currentStep(), EngineStep::Burn);
    engine.abort();
    EXPECT_EQ(outcome(), "Failed: User abort");
    EXPECT_EQ(engine.deviceName(), "XC167 @ QB5 + dualBridge (AMD)");
    EXPECT_EQ(acknowledged(), EngineState::Connected);
    // The connection still works.
    engine.burn(image.source());
    run();
    EXPECT_EQ(engine.state(), EngineState::Succeeded) << engine.errorText();
    engine.acknowledge();
    engine.disconnect();

    engine.startConnect(false);
    run(4);
    ASSERT_EQ(engine.currentStep(), EngineStep::UploadDaemon);
    engine.abort();
    EXPECT_EQ(engine.errorText(), "User abort");
    EXPECT_EQ(engine.deviceName(), "NO DEVICE");
    EXPECT_EQ(acknowledged(), EngineState::Idle);
    connect();
}

TEST_F(ProgrammingEngineTest, CallsOutOfTurnAreContractFailures) {
    ImageSource image(omfPedata(0x10000, "ab"));
    engine.burn(image.source());
    engine.acknowledge();
    engine.disconnect();
    EXPECT_EQ(takeFailures(), (std::vector{require("expected state"), require("expected state"),
                                           require("expected state")}));
    EXPECT_EQ(engine.state(), EngineState::Idle);

    engine.startConnect(false);
    engine.startConnect(false);
    EXPECT_EQ(takeFailures(), std::vector{require("expected state")});
    run();
    engine.acknowledge();
    engine.burnDouble(image.source(), image.source());
    EXPECT_EQ(takeFailures(), std::vector{require("double proc. operation")});
    engine.abort();
    EXPECT_EQ(takeFailures(), std::vector{require("expected state")});
    EXPECT_EQ(engine.state(), EngineState::Connected);
    engine.disconnect();

    connect(true);
    engine.burn(image.source());
    EXPECT_EQ(takeFailures(), std::vector{require("single proc. operation")});
    EXPECT_EQ(engine.state(), EngineState::Connected);
}

}  // namespace
}  // namespace zq::testing
