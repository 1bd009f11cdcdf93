// The engine against kvsb-sim over a pseudo-terminal: the real serial port, frame layers and
// protocol, driven by the notifications as the dialog drives them. After every burn that
// succeeds the simulator's memory dump must equal the image byte for byte.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/recording_failure_handler.h"
#include "common/temp_dir.h"
#include "df1/command_protocol.h"
#include "engine/programming_engine.h"
#include "engine_fixture.h"
#include "image/elf_writer.h"
#include "os/comport.h"
#include "os/notifications.h"
#include "sim/sim_process.h"
#include "support/vyjimka.h"
#include "tools/omf_writer.h"

namespace zq::testing {
namespace {

using sim::testing::SimProcess;
using Blocks = std::map<std::uint32_t, std::string>;  // image data by address

// One request of the PC as the simulator's trace records it.
struct Request {
    std::string op;
    int channel;
    int level;
    std::uint32_t address;
    std::uint32_t length;
};

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The value of "key": in a JSON text from `from` on, a string without its quotes or a number;
// empty when absent.
std::string field(const std::string& text, const std::string& key, std::size_t from = 0) {
    const std::string tag = "\"" + key + "\":";
    std::size_t at = text.find(tag, from);
    if (at == std::string::npos) return {};
    at += tag.size();
    if (text[at] == '"') return text.substr(at + 1, text.find('"', at + 1) - at - 1);
    std::size_t end = at;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
    return text.substr(at, end - at);
}

// An image with these blocks in the format of the platform's family.
std::string imageFile(PlId plId, const Blocks& blocks) {
    if (familyOf(plId) == kFamilyXc167) {
        std::string file = omfOther(0x02, "IMAGE");
        for (const auto& [address, data] : blocks) file += omfPedata(address, data);
        return file;
    }
    ElfWriter w;
    int n = 0;
    for (const auto& [address, data] : blocks) w.text(".s" + std::to_string(n++), address, data);
    return w.build();
}

// A few hundred bytes at the start of every Flash and Aux range of the platform, one block
// longer than a chunk.
Blocks blocksForEveryRange(const PlatformEntry& platform) {
    Blocks blocks;
    std::uint8_t seed = 1;
    for (const MemRange& range : platform.ranges) {
        if (range.kind == RangeKind::Ram) continue;
        blocks[range.start + 0x10] = pattern(seed == 1 ? 1200 : 100 + seed, seed);
        ++seed;
    }
    return blocks;
}

class EngineSimTest : public ContractTest {
protected:
    void SetUp() override {
        ContractTest::SetUp();
        takePendingMessage();
    }
    void TearDown() override {
        closeLine();
        EXPECT_FALSE(hasPendingMessage());
        ContractTest::TearDown();
    }

    // kvsb-sim with quick erases and modules that power up at once, and the stack on its pty.
    void startSim(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--once",
                                      "--power-on-ms",
                                      "0",
                                      "--erase-ms",
                                      "20",
                                      "--erase-steps",
                                      "2",
                                      "--dump",
                                      dumpDir().string(),
                                      "--trace",
                                      tracePath().string()};
        args.insert(args.end(), extra.begin(), extra.end());
        sim = std::make_unique<SimProcess>(args);
        ASSERT_FALSE(sim->path().empty());
        port = std::make_unique<ComPort>(sim->path(), kComPortBaudRate);
        try {
            port->open();
        } catch (CVyjimka* e) {
            e->release();
            FAIL() << "the simulator's pty does not open";
        }
        tx = std::make_unique<Df1FrameTx>(*port);
        rx = std::make_unique<Df1FrameRx>(*port);
        protocol = std::make_unique<CommandProtocol>(*tx, *rx);
        engine = std::make_unique<ProgrammingEngine>(*protocol, platforms);
    }

    // Lets go of the line; the simulator then writes its dump and ends.
    void closeLine() {
        if (!port) return;
        engine.reset();
        protocol.reset();
        try {
            port->stopRx();
            port->stopTx();
        } catch (CVyjimka* e) {
            e->release();
            ADD_FAILURE() << "the port did not stop";
        }
        rx.reset();
        tx.reset();
        port.reset();
        EXPECT_EQ(sim->wait(), 0);
    }

    // As the dialog: each notification goes to the protocol, then the engine takes a step.
    void run() {
        while (engine->state() == EngineState::Busy) {
            std::optional<Notification> n = queue.waitFor(std::chrono::seconds(10));
            if (!n) {
                ADD_FAILURE() << "the engine hangs in " << engineStepName(engine->currentStep());
                engine->abort();
                return;
            }
            if (n->message == WM_COM_RXDATA) {
                protocol->onSerialEvent(CommandProtocol::kBytesArrived,
                                        static_cast<std::uint32_t>(n->wParam));
            } else if (n->message == WM_COM_ERROR && n->wParam > 0) {
                protocol->onSerialEvent(CommandProtocol::kLineError, 0);
            } else if (n->message == WM_COM_ERROR) {
                ADD_FAILURE() << "the port failed: " << takePendingMessage().value_or("");
                return;
            }
            engine->step();
        }
    }

    void connect(bool doubleProcessor = false) {
        engine->startConnect(doubleProcessor);
        run();
        ASSERT_EQ(engine->state(), EngineState::Succeeded) << engine->errorText();
        engine->acknowledge();
    }

    void burn(const std::string& file) {
        ImageSource image(file);
        engine->burn(image.source());
        run();
        ASSERT_EQ(engine->state(), EngineState::Succeeded) << engine->errorText();
        EXPECT_EQ(engine->infoText(), "Burn operation successful");
        engine->acknowledge();
    }

    // The Flash and Aux contents of a module's dump: per range with written bytes, its first
    // written address and the bytes from there to the last one written.
    Blocks burned(const std::string& module) {
        Blocks blocks;
        const std::filesystem::path folder = dumpDir() / module;
        const std::string index = fileText(folder / "index.json");
        for (std::size_t at = index.find("\"file\":"); at != std::string::npos;
             at = index.find("\"file\":", at + 1)) {
            if (field(index, "kind", at) == "Ram") continue;
            blocks[static_cast<std::uint32_t>(std::stoul(field(index, "addr", at), nullptr, 16))] =
                fileText(folder / field(index, "file", at));
        }
        return blocks;
    }

    std::vector<Request> requests() {
        std::vector<Request> out;
        std::ifstream in(tracePath());
        for (std::string line; std::getline(in, line);) {
            if (line.find("\"dir\":\"pc\"") == std::string::npos) continue;
            Request r{field(line, "op"), std::stoi("0" + field(line, "ch")),
                      std::stoi("0" + field(line, "level")), 0, 0};
            if (!field(line, "addr").empty())
                r.address =
                    static_cast<std::uint32_t>(std::stoul(field(line, "addr"), nullptr, 16));
            r.length = static_cast<std::uint32_t>(std::stoul("0" + field(line, "len")));
            out.push_back(r);
        }
        return out;
    }

    std::filesystem::path dumpDir() const { return dir.path() / "dump"; }
    std::filesystem::path tracePath() const { return dir.path() / "trace.jsonl"; }

    TempDir dir;
    NotificationQueue queue;
    ScopedNotificationPoster poster{queue};
    PlatformList platforms;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<ComPort> port;
    std::unique_ptr<Df1FrameTx> tx;
    std::unique_ptr<Df1FrameRx> rx;
    std::unique_ptr<CommandProtocol> protocol;
    std::unique_ptr<ProgrammingEngine> engine;
};

TEST_F(EngineSimTest, EveryPlatformConnectsAndBurnsAndItsFlashEqualsTheImage) {
    for (const PlatformEntry& platform : platforms.entries()) {
        SCOPED_TRACE(platform.name);
        startSim({"--plid", std::to_string(platform.plID)});
        connect();
        EXPECT_EQ(engine->deviceName(), platform.name);
        const Blocks image = blocksForEveryRange(platform);
        burn(imageFile(platform.plID, image));
        closeLine();
        EXPECT_EQ(burned("ch1"), image);
    }
}

TEST_F(EngineSimTest, ADoubleUnitIsConnectedAndBurnedAThenB) {
    startSim({"--plid", "0x30000001"});
    connect(true);
    std::vector<std::pair<std::string, int>> order;
    for (const Request& r : requests())
        if (r.op == "CHANNEL" || r.op == "CONNECT" || r.op == "EXEC")
            order.emplace_back(r.op, r.channel);
    EXPECT_EQ(order, (std::vector<std::pair<std::string, int>>{{"CHANNEL", 0},
                                                               {"CONNECT", 0},
                                                               {"CHANNEL", 1},
                                                               {"CONNECT", 1},
                                                               {"CHANNEL", 0},
                                                               {"EXEC", 0},
                                                               {"CONNECT", 0},
                                                               {"CHANNEL", 1},
                                                               {"EXEC", 1},
                                                               {"CONNECT", 1}}));

    const Blocks a{{0x00004000, pattern(1500, 3)}, {0x80550000, "aux of A"}};
    const Blocks b{{0x00010000, pattern(700, 9)}};
    ImageSource imageA(imageFile(0x30000001, a)), imageB(imageFile(0x30000001, b));
    engine->burnDouble(imageA.source(), imageB.source());
    run();
    ASSERT_EQ(engine->state(), EngineState::Succeeded) << engine->errorText();
    closeLine();
    EXPECT_EQ(burned("ch0"), a);
    EXPECT_EQ(burned("ch1"), b);
}

TEST_F(EngineSimTest, AFailedBurnOfANeverTouchesB) {
    startSim({"--plid", "0x20000001", "--fault", "status,on=write,level=2,ch=0,value=3"});
    connect(true);
    ImageSource image(imageFile(0x20000001, {{0xFF000000, pattern(64)}}));
    engine->burnDouble(image.source(), image.source());
    run();
    EXPECT_EQ(engine->state(), EngineState::Failed);
    EXPECT_EQ(engine->errorText(), "Error while writing 64 bytes to 0xFF000000");
    engine->acknowledge();
    EXPECT_EQ(engine->state(), EngineState::Connected);
    closeLine();
    for (const Request& r : requests())
        EXPECT_FALSE(r.channel == 1 && r.level == 2 && r.op != "CONNECT") << r.op;
    EXPECT_TRUE(burned("ch1").empty());
}

TEST_F(EngineSimTest, TargetsThatDoNotMatchAreRefusedWithTheirReasons) {
    struct Case {
        std::vector<std::string> args;
        bool doubleProcessor;
        const char* error;
    } cases[] = {
        {{"--plid-a", "0x10000001", "--plid-b", "0x10000002"},
         true,
         "Different platforms (0x10000002 != 0x10000001)"},
        {{"--plid", "0x10000003"}, false, "Unsupported platform (0x10000003)"},
        {{"--plid", "0x10000100", "--l2-plid", "0x20000001"},
         false,
         "L2 plID (0x20000001) doesn't match L1 plID (0x10000100)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        startSim(c.args);
        engine->startConnect(c.doubleProcessor);
        run();
        EXPECT_EQ(engine->state(), EngineState::Failed);
        EXPECT_EQ(engine->errorText(), c.error);
        engine->acknowledge();
        EXPECT_EQ(engine->state(), EngineState::Idle);
        closeLine();
        if (c.doubleProcessor) {
            for (const Request& r : requests()) EXPECT_NE(r.op, "UPLOADINIT") << "no daemon goes";
        }
    }
}

TEST_F(EngineSimTest, ADaemonOfAnotherVariantNamesTheDeviceWhileTheMapStays) {
    startSim({"--plid", "0x20000003", "--l2-plid", "0x20000002"});
    connect();
    EXPECT_EQ(engine->deviceName(), "MPC8270 @ CM61/CM62 (32MB FLASH)");
    const std::size_t before = requests().size();
    ImageSource outside(imageFile(0x20000003, {{0xFF000000, "x"}}));
    engine->burn(outside.source());
    EXPECT_EQ(engine->state(), EngineState::Failed);
    EXPECT_EQ(engine->errorText(),
              "Block 0xFF000000-0xFF000000 doesn't fit into device's memory map");
    engine->acknowledge();
    ImageSource ram(imageFile(0x20000003, {{0xFF800000, "f"}, {0x00100000, "r"}}));
    engine->burn(ram.source());
    EXPECT_EQ(engine->errorText(), "Unexpected use of memory range 0x00000000 - 0x07FFFFFF");
    engine->acknowledge();
    EXPECT_EQ(requests().size(), before) << "refused before any command";

    const Blocks image{{0xFF800000, pattern(600)}};
    burn(imageFile(0x20000003, image));
    closeLine();
    EXPECT_EQ(burned("ch1"), image);
}

TEST_F(EngineSimTest, A64KiBBlockGoesAsOneEraseOneUploadInitAnd133Writes) {
    startSim({"--plid", "0x10000001"});
    connect();
    const std::string data = pattern(0x10000, 5);
    const std::size_t before = requests().size();
    burn(omfPedata(0x10000, data.substr(0, 0x8000)) + omfPedata(0x18000, data.substr(0x8000)));
    closeLine();
    const std::vector<Request> all = requests();
    std::vector<Request> burnRequests(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    ASSERT_EQ(burnRequests.size(), 135u);
    EXPECT_EQ(burnRequests[0].op, "ERASE");
    EXPECT_EQ(burnRequests[0].address, 0x10000u);
    EXPECT_EQ(burnRequests[0].length, 0x10000u);
    EXPECT_EQ(burnRequests[1].op, "UPLOADINIT");
    for (std::size_t i = 2; i < burnRequests.size(); ++i) {
        EXPECT_EQ(burnRequests[i].op, "WRITE");
        EXPECT_EQ(burnRequests[i].length, i < 134 ? 496u : 64u);
    }
    EXPECT_EQ(burned("ch1"), (Blocks{{0x10000, data}}));
}

TEST_F(EngineSimTest, AbortKeepsABurnConnectedAndDropsAConnect) {
    startSim({"--plid", "0x10000200"});
    connect();
    const Blocks image{{0x00A00000, pattern(20000, 7)}};
    ImageSource file(imageFile(0x10000200, image));
    engine->burn(file.source());
    // Until some of the block has been written.
    while (engine->state() == EngineState::Busy &&
           (engine->currentStep() != EngineStep::Burn || engine->progress() == 255 ||
            engine->progress() < 10)) {
        std::optional<Notification> n = queue.waitFor(std::chrono::seconds(10));
        ASSERT_TRUE(n);
        if (n->message == WM_COM_RXDATA)
            protocol->onSerialEvent(CommandProtocol::kBytesArrived,
                                    static_cast<std::uint32_t>(n->wParam));
        engine->step();
    }
    ASSERT_EQ(engine->currentStep(), EngineStep::Burn);
    engine->abort();
    EXPECT_EQ(engine->errorText(), "User abort");
    engine->acknowledge();
    EXPECT_EQ(engine->state(), EngineState::Connected);
    burn(imageFile(0x10000200, image));
    engine->disconnect();

    engine->startConnect(false);
    while (engine->currentStep() != EngineStep::UploadDaemon) {
        std::optional<Notification> n = queue.waitFor(std::chrono::seconds(10));
        ASSERT_TRUE(n);
        if (n->message == WM_COM_RXDATA)
            protocol->onSerialEvent(CommandProtocol::kBytesArrived,
                                    static_cast<std::uint32_t>(n->wParam));
        engine->step();
    }
    engine->abort();
    EXPECT_EQ(engine->state(), EngineState::Failed);
    EXPECT_EQ(engine->deviceName(), "NO DEVICE");
    engine->acknowledge();
    EXPECT_EQ(engine->state(), EngineState::Idle);
    connect();
    closeLine();
    EXPECT_EQ(burned("ch1"), image);
}

}  // namespace
}  // namespace zq::testing
