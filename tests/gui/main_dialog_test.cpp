#include "gui/wokno.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "common/catalogue_writer.h"
#include "df1/command_protocol.h"
#include "df1/scripted_target.h"
#include "engine/programming_engine.h"
#include "gui/settings_fixture.h"
#include "gui/sw_catalogue.h"
#include "os/comport.h"
#include "os/notifications.h"
#include "os/sha256.h"
#include "recording_view.h"
#include "support/mem_source.h"
#include "support/string_table.h"
#include "support/vyjimka.h"
#include "tools/omf_writer.h"

namespace zq {
namespace {

using testing::Bytes;
using testing::RecordingView;
using testing::ScriptedTarget;
using testing::ShownMessage;

constexpr std::uint32_t kLowFlash = 0x00010000;
constexpr std::uint32_t kHighFlash = 0x00100000;
constexpr std::uint8_t kOpErase = 0x02;
constexpr std::uint8_t kOpWrite = 0x04;
const std::string kReady = "202 203 204 205";
const std::string kNoPort = "200 201";

std::string pattern(std::size_t length, int seed) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>((seed * 31 + static_cast<int>(i) * 7) & 0xFF);
    return bytes;
}

std::string omfImage(std::uint32_t address, const std::string& data) {
    return omfOther(0x02, "APP") + omfPedata(address, data) +
           omfObject(0x0001, "?C_STARTUP", 0, false, 1);
}

// The line that the dialog opens: in memory, with the far side played by a ScriptedTarget. It
// notes in the view's log when the dialog stops it, and counts the receiver's scans.
class TestLine : public testing::ScriptedLine {
public:
    explicit TestLine(RecordingView& view) : view_(view) {}
    void stopRx() override {
        view_.log("stopRx");
        ScriptedLine::stopRx();
    }
    void stopTx() override { view_.log("stopTx"); }
    std::uint32_t receivedCount() override {
        ++scans;
        return ScriptedLine::receivedCount();
    }

    std::atomic<int> scans{0};

private:
    RecordingView& view_;
};

class MainDialogTest : public SettingsTest {
protected:
    void SetUp() override {
        SettingsTest::SetUp();
        takePendingMessage();
        saved_ = std::filesystem::current_path();
        std::filesystem::current_path(files.path());
        writeImages("a", 1);
        writeImages("b", 2);
        std::string text = testing::catalogueText({
            testing::catalogueSection("SW31", "Verze 3.1", "a"),
            testing::catalogueSection("SW30", "Verze 3.0", "b"),
        });
        MemSource source(MemPtr(reinterpret_cast<std::uint8_t*>(text.data()),
                                static_cast<std::uint32_t>(text.size())));
        ASSERT_TRUE(catalogue.read(source)) << catalogue.errorText();
    }

    void TearDown() override {
        dialog.reset();
        std::filesystem::current_path(saved_);
        EXPECT_FALSE(hasPendingMessage());
        SettingsTest::TearDown();
    }

    // XC167 images with one block in the low flash (the right module of the left/right unit in
    // the high one), different bytes in each.
    void writeImages(const std::string& prefix, int seed) {
        for (const std::string& name : testing::catalogueFiles(prefix)) {
            const std::uint32_t address =
                name.find("mub_b") != std::string::npos ? kHighFlash : kLowFlash;
            // Over one 496-byte WRITE, so that a block takes more than one.
            const std::string data = pattern(600 + static_cast<std::size_t>(seed), seed * 13);
            ++seed;
            images_[name] = {address, data};
            files.write(name, omfImage(address, data));
        }
    }

    void start() {
        DialogSetup setup;
        setup.settings = &settings();
        setup.protocol = protocolOptions;
        setup.journal = journal;
        setup.adapterLatency = adapterLatency;
        setup.openLine = [this](const std::string& name) -> std::unique_ptr<SerialLine> {
            openedNames.push_back(name);
            if (name == "COM0") return std::make_unique<ComPort>(name, kComPortBaudRate);
            auto created = std::make_unique<TestLine>(view);
            line = created.get();
            target = std::make_unique<ScriptedTarget>(*line);
            return created;
        };
        dialog = std::make_unique<MainDialog>(catalogue, platforms, view, std::move(setup));
        dialog->initDialog();
    }

    void open() {
        start();
        ASSERT_TRUE(view.click(*dialog, kOpenButton));
        ASSERT_TRUE(dialog->portOpen());
    }

    EngineState engineState() const { return dialog->engine()->state(); }

    // Plays the far side and the main loop: delivers the target's answers and the protocol's
    // time-outs to the dialog, as the window's message loop does, while the engine is busy and
    // `more` holds.
    void pump(const std::function<bool()>& more = [] { return true; }) {
        for (int rounds = 0; rounds < 100000; ++rounds) {
            if (dialog->engine() == nullptr || engineState() != EngineState::Busy || !more())
                return;
            if (std::optional<Bytes> piece = target->takeAnswer()) {
                dialog->onNotification({WM_COM_RXDATA, line->deliver(*piece), 0});
                continue;
            }
            std::optional<Notification> n = queue.waitFor(std::chrono::seconds(10));
            if (!n) {
                ADD_FAILURE() << "the run hangs in "
                              << engineStepName(dialog->engine()->currentStep());
                return;
            }
            dialog->onNotification(*n);
        }
        ADD_FAILURE() << "the run does not end";
    }

    // The target holds an image file's bytes where its block lies.
    void expectBurnt(int channel, const std::string& file) const {
        const auto& [address, data] = images_.at(file);
        EXPECT_EQ(target->bytesAt(channel, address, static_cast<std::uint32_t>(data.size())), data)
            << file;
    }

    // At rest with the port open: the engine idle, the unit's first prompt, the controls usable,
    // the last run's info text gone.
    void expectReady(const std::string& prompt) {
        EXPECT_EQ(engineState(), EngineState::Idle);
        EXPECT_EQ(view.text(kInfoText), "");
        EXPECT_EQ(view.text(kOperatorText), prompt);
        EXPECT_EQ(view.enabledControls(), kReady);
    }

    // What a failing worker thread does: note its exception, then post the error.
    void failWorker(std::intptr_t code) {
        CVyjimka* e = new CVyjimkaN(0, "ComPort::rxThreadFnc() 1");
        reportException(e);
        e->release();
        dialog->onComError(code);
    }

    std::vector<unsigned> messageIds() const {
        std::vector<unsigned> ids;
        for (const ShownMessage& m : view.messages) ids.push_back(m.id);
        return ids;
    }

    testing::TempDir files;
    NotificationQueue queue;
    ScopedNotificationPoster poster{queue};
    RecordingView view;
    SwCatalogue catalogue;
    PlatformList platforms;
    std::vector<std::string> openedNames;
    std::unique_ptr<ScriptedTarget> target;
    TestLine* line = nullptr;
    ProtocolOptions protocolOptions;
    std::filesystem::path journal;
    LatencyLookup adapterLatency;
    std::unique_ptr<MainDialog> dialog;

    std::map<std::string, std::pair<std::uint32_t, std::string>> images_;

private:
    std::filesystem::path saved_;
};

TEST_F(MainDialogTest, InitialisesTheWindowAndKeepsThePortSelectionAtClosing) {
    settings().storePortIndex(3);
    start();
    EXPECT_EQ(view.text(kStatusText), "Zidavuvorud QS 1.02, verze dat 3.1");
    EXPECT_EQ(view.items(kPortCombo).size(), 16u);
    EXPECT_EQ(view.items(kPortCombo).front(), "COM1");
    EXPECT_EQ(view.selection(kPortCombo), 3);
    EXPECT_EQ(view.items(kVersionCombo), (std::vector<std::string>{"Verze 3.1", "Verze 3.0"}));
    EXPECT_EQ(view.items(kUnitCombo).size(), kUnitKindCount);
    EXPECT_EQ(view.selection(kVersionCombo) + view.selection(kUnitCombo), 0);
    EXPECT_EQ(view.enabledControls(), kNoPort);
    // The bar stays as the window made it until the first update after "Otevřít".
    EXPECT_TRUE(view.progressShown);

    // Kept at closing even without an open port.
    ASSERT_TRUE(view.select(*dialog, kPortCombo, 5));
    dialog->onCloseWindow();
    EXPECT_EQ(settings().loadPortIndex(), 5);
    EXPECT_EQ(view.takeLog(), (std::vector<std::string>{"destroy"}));
    EXPECT_TRUE(view.messages.empty());

    // With the read-back verify on, the status line says so.
    DialogSetup verifying;
    verifying.verify = true;
    MainDialog withVerify(catalogue, platforms, view, verifying);
    withVerify.initDialog();
    EXPECT_EQ(view.text(kStatusText), "Zidavuvorud QS 1.02, verze dat 3.1, ověřování");
}

TEST_F(MainDialogTest, APortThatDoesNotOpenLeavesTheDialogWithoutOne) {
    // A stored index beyond the list selects nothing; opening then asks for port number 0.
    settings().storePortIndex(16);
    start();
    EXPECT_EQ(view.selection(kPortCombo), -1);
    ASSERT_TRUE(view.click(*dialog, kOpenButton));
    EXPECT_EQ(openedNames, (std::vector<std::string>{"COM0"}));
    ASSERT_EQ(messageIds(), (std::vector<unsigned>{kOwnText}));
    EXPECT_EQ(view.messages[0].text.rfind("Chyba při otevírání s", 0), 0u) << view.messages[0].text;
    EXPECT_FALSE(dialog->portOpen());
    EXPECT_EQ(view.enabledControls(), kNoPort);
    EXPECT_EQ(dialog->engine(), nullptr);
}

TEST_F(MainDialogTest, OpensAndClosesThePortWithItsStack) {
    open();
    EXPECT_EQ(openedNames, (std::vector<std::string>{"COM1"}));
    expectReady(formatString(kStrConnectPrompt, "KRAB101"));
    EXPECT_FALSE(view.progressShown);

    view.takeLog();
    ASSERT_TRUE(view.click(*dialog, kCloseButton));
    EXPECT_FALSE(dialog->portOpen());
    EXPECT_EQ(dialog->engine(), nullptr);
    EXPECT_EQ(dialog->unit(0), nullptr);
    EXPECT_EQ(view.takeLog(), (std::vector<std::string>{"stopRx", "stopTx", "stopRx", "info "}));
    EXPECT_EQ(view.enabledControls(), kNoPort);
    EXPECT_EQ(view.text(kOperatorText), "");
}

// An adapter's latency timer above 2 ms gets a box after "Otevřít", once per port while the
// program runs; the port is open all the same.
TEST_F(MainDialogTest, ASlowAdapterIsToldOncePerPort) {
    const std::map<std::string, unsigned> timers{{"COM1", 16}, {"COM2", 2}, {"COM3", 40}};
    adapterLatency = [&timers](const std::string& name) -> std::optional<unsigned> {
        auto it = timers.find(name);
        return it != timers.end() ? std::optional<unsigned>(it->second) : std::nullopt;
    };
    start();
    for (int port : {0, 1, 0, 2, 3}) {
        ASSERT_TRUE(view.select(*dialog, kPortCombo, port));
        ASSERT_TRUE(view.click(*dialog, kOpenButton));
        ASSERT_TRUE(dialog->portOpen());
        ASSERT_TRUE(view.click(*dialog, kCloseButton));
    }
    ASSERT_EQ(messageIds(), (std::vector<unsigned>{kStrSlowAdapter, kStrSlowAdapter}));
    EXPECT_EQ(view.messages[0].text,
              "Adaptér na COM1 má latenci 16 ms: programování bude asi 4× pomalejší. Nastavte "
              "Latency Timer na 1 ms.");
    EXPECT_EQ(view.messages[1].text.rfind("Adaptér na COM3 má latenci 40 ms: programování", 0), 0u);
    EXPECT_NE(view.messages[1].text.find(" asi 8× "), std::string::npos);
}

TEST_F(MainDialogTest, LeftRightUnitPausesWithOnlyProgramEnabled) {
    open();
    ASSERT_TRUE(view.select(*dialog, kUnitCombo, 1));
    EXPECT_EQ(view.text(kOperatorText), formatString(kStrConnectLeftPrompt, "KRCD101"));
    ASSERT_TRUE(view.click(*dialog, kProgramButton));
    pump();

    // The left module is done; the operator moves the adapter.
    EXPECT_TRUE(view.messages.empty());
    EXPECT_TRUE(dialog->awaitingOperator());
    EXPECT_EQ(view.enabledControls(), "205");
    EXPECT_EQ(view.text(kOperatorText), formatString(kStrMoveToRightPrompt, "KRCD101"));
    EXPECT_EQ(engineState(), EngineState::Idle);
    expectBurnt(1, "a_mub_a.bin");
    const FileSource* right = dialog->unit(1)->image(1);

    ASSERT_TRUE(view.click(*dialog, kProgramButton));
    EXPECT_FALSE(dialog->awaitingOperator());
    EXPECT_EQ(view.text(kOperatorText), "Zasuňte pravý modul KRCD101");
    EXPECT_EQ(view.enabledControls(), "");
    pump();
    EXPECT_EQ(messageIds(), (std::vector<unsigned>{kStrDone}));
    expectBurnt(1, "a_mub_b.bin");
    EXPECT_EQ(dialog->unit(1)->image(1), right) << "the files were opened again";
    EXPECT_EQ(target->count(0x01, 1), 4u) << "two L1 and two L2 CONNECTs";
    expectReady(formatString(kStrConnectLeftPrompt, "KRCD101"));
}

// The Qt window's run checks the texts of "Chyba"; here, the state it leaves.
TEST_F(MainDialogTest, AFailedRunLeavesTheDialogReadyAndTheNextRunReadsTheVersionAfresh) {
    open();
    target->setFault(kOpWrite, 1, ScriptedTarget::Fault::ErrorStatus, 1);
    ASSERT_TRUE(view.click(*dialog, kProgramButton));
    pump();
    ASSERT_EQ(messageIds(), (std::vector<unsigned>{kStrError}));
    EXPECT_EQ(view.messages[0].infoText, view.infoTexts.back());
    EXPECT_EQ(dialog->unit(0)->state(), 0u);
    EXPECT_TRUE(dialog->portOpen());
    expectReady(formatString(kStrConnectPrompt, "KRAB101"));

    target->clearFaults();
    ASSERT_TRUE(view.select(*dialog, kVersionCombo, 1));
    ASSERT_TRUE(view.click(*dialog, kProgramButton));
    pump();
    EXPECT_EQ(messageIds(), (std::vector<unsigned>{kStrError, kStrDone}));
    expectBurnt(1, "b_qel.bin");
}

TEST_F(MainDialogTest, AMissingImageOfADualUnitStartsNothing) {
    open();
    // Both missing: one message for each.
    std::filesystem::remove(files.path() / "a_fut_a.bin");
    std::filesystem::remove(files.path() / "a_fut_b.bin");
    ASSERT_TRUE(view.select(*dialog, kUnitCombo, 3));
    ASSERT_TRUE(view.click(*dialog, kProgramButton));
    EXPECT_EQ(view.messages,
              (std::vector<ShownMessage>{
                  {kStrCannotOpenFile, "Nepodařilo se otevřít soubor a_fut_a.bin", ""},
                  {kStrCannotOpenFile, "Nepodařilo se otevřít soubor a_fut_b.bin", ""}}));
    EXPECT_EQ(line->sentCount(), 0u);
    EXPECT_EQ(dialog->unit(3)->state(), 0u);
    expectReady(formatString(kStrConnectPrompt, "KRGH101"));
}

TEST_F(MainDialogTest, AnImageRefusedBeforeAnyCommandEndsTheRunAtOnce) {
    // One that does not parse, and one whose block lies in the board's RAM: either ends the
    // burn request inside the request itself, so no event would ever come to end it later.
    for (const std::string& bytes :
         {std::string("not an image"), omfImage(0x00400000, pattern(100, 3))}) {
        view = RecordingView();
        files.write("a_qel.bin", bytes);
        open();
        ASSERT_TRUE(view.click(*dialog, kProgramButton));
        pump();
        ASSERT_EQ(messageIds(), (std::vector<unsigned>{kStrError}));
        EXPECT_FALSE(view.messages[0].infoText.empty());
        EXPECT_EQ(target->count(kOpErase), 0u);
        EXPECT_EQ(dialog->unit(0)->state(), 0u);
        expectReady(formatString(kStrConnectPrompt, "KRAB101"));
        dialog.reset();
    }
}

TEST_F(MainDialogTest, NotificationsOutsideARunAreNotPassedOn) {
    // Left over from a port that is closed by now.
    open();
    ASSERT_TRUE(view.click(*dialog, kCloseButton));
    dialog->onNotification({WM_COM_RXDATA, 12, 0});
    dialog->onNotification({WM_COM_TIMEOUT, 0, 0});
    dialog->onNotification({WM_COM_ERROR, kLineErrorBreak, 0});
    EXPECT_EQ(view.enabledControls(), kNoPort);

    // A line error or data on an open port while no run goes on, nor while a left/right unit
    // waits for the operator. (The box of a line error in a run: the Qt window's test.)
    ASSERT_TRUE(view.click(*dialog, kOpenButton));
    dialog->onComError(kLineErrorFrame);
    const int scans = line->scans;
    dialog->onNotification({WM_COM_RXDATA, line->deliver({0x10, 0x06}), 0});
    EXPECT_EQ(line->scans, scans);
    ASSERT_TRUE(view.select(*dialog, kUnitCombo, 1));
    ASSERT_TRUE(view.click(*dialog, kProgramButton));
    pump();
    ASSERT_TRUE(dialog->awaitingOperator());
    const int pausedScans = line->scans;
    const std::size_t sent = line->sentCount();
    dialog->onNotification({WM_COM_RXDATA, line->deliver({0x10, 0x06}), 0});
    EXPECT_EQ(line->scans, pausedScans);
    EXPECT_EQ(line->sentCount(), sent);
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(MainDialogTest, AFailedWorkerThreadClosesTheWindowWithItsMessage) {
    for (std::intptr_t code : {kComErrorRxThread, kComErrorTxThread}) {
        view = RecordingView();
        open();
        failWorker(code);
        EXPECT_EQ(view.closePosts, 1);
        EXPECT_TRUE(view.messages.empty());
        view.takeLog();
        dialog->onCloseWindow();
        EXPECT_EQ(
            view.takeLog(),
            (std::vector<std::string>{
                "stopRx", "stopTx", "message 0 Deadlock! (ComPort::rxThreadFnc() 1)", "destroy"}));
        dialog.reset();
    }
}

TEST_F(MainDialogTest, ClosingDuringABurnAbortsTheEngineBeforeThePortStops) {
    open();
    ASSERT_TRUE(view.click(*dialog, kProgramButton));
    pump([this] { return dialog->engine()->currentStep() != EngineStep::Burn; });
    ASSERT_EQ(dialog->engine()->currentStep(), EngineStep::Burn);
    view.takeLog();
    dialog->onCloseWindow();
    EXPECT_EQ(view.takeLog(),
              (std::vector<std::string>{"info User abort", "stopRx", "stopTx", "destroy"}));
    EXPECT_EQ(dialog->engine()->errorText(), "User abort");
    EXPECT_EQ(settings().loadPortIndex(), 0);
}

// A dual unit, processor A then B; which channel each is on is the engine's test. Single units
// are burnt through the Qt window, the left/right unit through the command line too.
TEST_F(MainDialogTest, ADualUnitHoldsTheMouseWhileItsSecondImageIsPreparedAndEndsReady) {
    open();
    ASSERT_TRUE(view.select(*dialog, kUnitCombo, 2));
    ASSERT_TRUE(view.click(*dialog, kProgramButton));
    EXPECT_EQ(view.text(kOperatorText), "Zapněte napájení");
    EXPECT_EQ(view.enabledControls(), "");
    // Processor A is done and B's image is being prepared behind the channel switch.
    pump([this] { return !view.captured; });
    ASSERT_TRUE(view.captured);
    EXPECT_TRUE(dialog->engine()->isPreparing());
    EXPECT_TRUE(dialog->waitCursorShown());
    EXPECT_FALSE(view.select(*dialog, kUnitCombo, 0)) << "a click reached a control";

    pump();
    EXPECT_FALSE(view.captured);
    expectBurnt(0, "a_vog_a.bin");
    expectBurnt(1, "a_vog_b.bin");
    EXPECT_GT(view.maxProgress, 0u);
    std::string cursor;
    for (const std::string& entry : view.takeLog())
        if (entry.rfind("cursor", 0) == 0) cursor += entry + ";";
    EXPECT_EQ(cursor, "cursor wait;cursor arrow;");
    EXPECT_EQ(view.messages,
              (std::vector<ShownMessage>{{kStrDone, "Hotovo", "Burn operation successful"}}));
    expectReady(formatString(kStrConnectPrompt, "KREF10x"));
    EXPECT_FALSE(view.progressShown);
}

TEST_F(MainDialogTest, ATimeOutEndsTheRunWithChyba) {
    protocolOptions.timeScaleDivisor = 1000;
    open();
    target->setFault(0, 1, ScriptedTarget::Fault::NoAnswerAtAll);
    ASSERT_TRUE(view.click(*dialog, kProgramButton));
    pump();
    EXPECT_EQ(
        view.messages,
        (std::vector<ShownMessage>{{kStrError, "Chyba", "Unable to switch convertor channel"}}));
    expectReady(formatString(kStrConnectPrompt, "KRAB101"));
}

// A message box runs its own message loop: the workers' notifications and a close request keep
// arriving while it is open, and each must be handled for the state the dialog is in then,
// without a contract failure (the fixture's tear-down checks that).
TEST_F(MainDialogTest, NotificationsInsideAMessageBoxAreHandledForTheStateThen) {
    open();
    {
        SCOPED_TRACE("the run ends while the line error's box is open");
        ASSERT_TRUE(view.click(*dialog, kProgramButton));
        view.whileBoxOpen = [this](unsigned) {
            dialog->onComError(kLineErrorFrame);  // a second error of the burst: no second box
            pump();
        };
        dialog->onComError(kLineErrorBreak);
        EXPECT_EQ(messageIds(), (std::vector<unsigned>{105, 104}));
        expectReady(formatString(kStrConnectPrompt, "KRAB101"));
    }
    {
        SCOPED_TRACE("line error, data and a time-out while \"Hotovo\" is open");
        view.messages.clear();
        ASSERT_TRUE(view.click(*dialog, kProgramButton));
        view.whileBoxOpen = [this](unsigned) {
            dialog->onComError(kLineErrorFrame);
            dialog->onNotification({WM_COM_RXDATA, line->deliver({0x10, 0x06}), 0});
            dialog->onTimeout();
        };
        pump();
        EXPECT_EQ(messageIds(), (std::vector<unsigned>{104}));
    }
    {
        SCOPED_TRACE("a failed worker closes the window while \"Chyba\" is open");
        view.messages.clear();
        target->setFault(kOpWrite, 1, ScriptedTarget::Fault::ErrorStatus, 1);
        ASSERT_TRUE(view.click(*dialog, kProgramButton));
        view.whileBoxOpen = [this](unsigned) {
            failWorker(kComErrorRxThread);
            dialog->onComError(kComErrorTxThread);
            // Both posted closes arrive; the second one inside the first one's box.
            view.whileBoxOpen = [this](unsigned) { dialog->onCloseWindow(); };
            dialog->onCloseWindow();
        };
        view.takeLog();
        pump();
        EXPECT_EQ(messageIds(), (std::vector<unsigned>{106, 0}));
        const std::vector<std::string> log = view.takeLog();
        EXPECT_EQ(std::count(log.begin(), log.end(), "destroy"), 1);
    }
}

// The journal's lines as stored, each parsed; every one chained to the line before it.
std::vector<nlohmann::json> chainedRecords(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<nlohmann::json> records;
    std::string prev(kFirstPrev);
    for (std::string line; std::getline(in, line);) {
        records.push_back(nlohmann::json::parse(line));
        EXPECT_EQ(records.back()["prev"], prev) << "record " << records.size();
        prev = sha256Hex(line);
    }
    return records;
}

TEST_F(MainDialogTest, EveryEndedRunLeavesItsRecordInTheJournal) {
    journal = files.path() / "state" / "journal.jsonl";
    open();
    // Done: a dual unit, both processors with what the connect reported.
    ASSERT_TRUE(view.select(*dialog, kUnitCombo, 2));
    ASSERT_TRUE(view.click(*dialog, kProgramButton));
    pump();
    // Failed: the single unit's second WRITE of its image is refused.
    ASSERT_TRUE(view.select(*dialog, kUnitCombo, 0));
    ASSERT_TRUE(view.click(*dialog, kProgramButton));
    pump([this] { return dialog->engine()->currentStep() != EngineStep::Burn; });
    target->setFault(kOpWrite, static_cast<int>(target->count(kOpWrite, 1)) + 2,
                     ScriptedTarget::Fault::ErrorStatus, 1);
    pump();
    target->clearFaults();
    // Aborted: the left/right unit, closed while the operator moves the adapter.
    ASSERT_TRUE(view.select(*dialog, kUnitCombo, 1));
    ASSERT_TRUE(view.click(*dialog, kProgramButton));
    pump();
    ASSERT_TRUE(dialog->awaitingOperator());
    dialog->onCloseWindow();
    EXPECT_EQ(messageIds(), (std::vector<unsigned>{kStrDone, kStrError}));

    const std::vector<nlohmann::json> records = chainedRecords(journal);
    ASSERT_EQ(records.size(), 3u);
    const nlohmann::json& done = records[0];
    EXPECT_EQ(done["v"], 1);
    EXPECT_EQ(done["front_end"], "window");
    EXPECT_EQ(done["unit"], "KREF10x");
    EXPECT_EQ(done["sw"], "SW31");
    EXPECT_EQ(done["sw_name"], "Verze 3.1");
    EXPECT_EQ(done["data_version"], "3.1");
    EXPECT_EQ(done["result"], "done");
    EXPECT_EQ(done["error"], "");
    EXPECT_EQ(done["verified"], false);
    ASSERT_EQ(done["parts"].size(), 2u);
    for (int side = 0; side < 2; ++side) {
        const nlohmann::json& part = done["parts"][side];
        const std::string file = side == 0 ? "a_vog_a.bin" : "a_vog_b.bin";
        std::ifstream in(files.path() / file, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(part["side"], side == 0 ? "A" : "B");
        EXPECT_EQ(part["file"], file);
        EXPECT_EQ(part["size"], bytes.size());
        EXPECT_EQ(part["sha256"], sha256Hex(bytes));
        EXPECT_EQ(part["plid"], "0x10000001");
        EXPECT_EQ(part["platform"], "XC167 @ QB5 + dualBridge (AMD)");
        EXPECT_EQ(part["bytes_written"], images_.at(file).second.size());
    }
    // "2026-12-07T09:15:02.345Z": digits where the shape has a 9.
    const std::string time = done["time"];
    const std::string shape = "9999-99-99T99:99:99.999Z";
    ASSERT_EQ(time.size(), shape.size()) << time;
    for (std::size_t i = 0; i < shape.size(); ++i)
        EXPECT_EQ(shape[i] == '9' ? (std::isdigit(static_cast<unsigned char>(time[i])) ? '9' : '?')
                                  : time[i],
                  shape[i])
            << time;

    const nlohmann::json& failed = records[1];
    EXPECT_EQ(failed["result"], "error");
    EXPECT_NE(failed["error"], "");
    ASSERT_EQ(failed["parts"].size(), 1u);
    EXPECT_EQ(failed["parts"][0]["side"], "single");
    EXPECT_EQ(failed["parts"][0]["bytes_written"], 496) << "the first WRITE only";
    EXPECT_EQ(failed["parts"][0]["plid"], "0x10000001");

    const nlohmann::json& aborted = records[2];
    EXPECT_EQ(aborted["result"], "aborted");
    EXPECT_EQ(aborted["error"], "User abort");
    ASSERT_EQ(aborted["parts"].size(), 2u);
    EXPECT_EQ(aborted["parts"][0]["side"], "left");
    EXPECT_GT(aborted["parts"][0]["bytes_written"], 0);
    EXPECT_FALSE(aborted["parts"][1].contains("plid")) << "the right module was never reached";
}

TEST_F(MainDialogTest, AJournalThatCannotBeWrittenIsToldAndKeepsTheRunsResult) {
    // A folder that cannot be created: a file stands where it would be.
    files.write("state", "");
    journal = files.path() / "state" / "journal.jsonl";
    open();
    ASSERT_TRUE(view.click(*dialog, kProgramButton));
    pump();
    ASSERT_EQ(messageIds(), (std::vector<unsigned>{kStrJournalFailed, kStrDone}));
    EXPECT_NE(view.messages[0].text.find("Záznam o programování se nepodařilo uložit: cannot "
                                         "create the folder"),
              std::string::npos)
        << view.messages[0].text;
    expectBurnt(1, "a_qel.bin");
}

}  // namespace
}  // namespace zq
