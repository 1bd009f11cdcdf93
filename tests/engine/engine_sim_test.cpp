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
#include "sim/memory_map.h"
#include "sim/sim_process.h"
#include "support/vyjimka.h"
#include "tools/omf_writer.h"

namespace zq::testing {
namespace {

using sim::testing::SimProcess;
using Blocks = std::map<std::uint32_t, std::string>;  // image data by address

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
std::string imageFile(std::uint32_t plID, const Blocks& blocks) {
    if (familyOf(plID) == kFamilyXc167) {
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
Blocks blocksForEveryRange(const sim::Board& board) {
    Blocks blocks;
    std::uint8_t seed = 1;
    for (const sim::MapRange& range : board.map) {
        if (range.kind == sim::RangeKind::Ram) continue;
        blocks[static_cast<std::uint32_t>(range.span.start) + 0x10] =
            pattern(seed == 1 ? 1200 : 100 + seed, seed);
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

// The boards' own maps, not the program's catalogue: a wrong range in the program shows as a
// burn that fails or a dump that differs.
TEST_F(EngineSimTest, EveryPlatformConnectsAndBurnsAndItsFlashEqualsTheImage) {
    for (const sim::Board& board : sim::boards()) {
        SCOPED_TRACE(board.name);
        startSim({"--plid", std::to_string(board.plID)});
        connect();
        EXPECT_EQ(engine->deviceName(), board.name);
        const Blocks image = blocksForEveryRange(board);
        burn(imageFile(board.plID, image));
        closeLine();
        EXPECT_EQ(burned("ch1"), image);
    }
}

TEST_F(EngineSimTest, ADoubleUnitIsBurnedAThenBEachWithItsImage) {
    startSim({"--plid", "0x30000001"});
    connect(true);
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

}  // namespace
}  // namespace zq::testing
