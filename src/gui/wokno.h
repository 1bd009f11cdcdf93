#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "df1/command_protocol.h"
#include "gui/dialog_view.h"
#include "gui/journal.h"
#include "gui/unit_procedure.h"
#include "os/notifications.h"

namespace zq {

class ByteSource;
class Df1FrameRx;
class Df1FrameTx;
class PlatformList;
class ProgrammingEngine;
class SerialLine;
class Settings;
class SwCatalogue;

// Creates the (not yet opened) serial line for a port name of the port combo box.
using LineFactory = std::function<std::unique_ptr<SerialLine>(const std::string& portName)>;

// The latency timer of the adapter behind a port, by the port's name; nullopt: none known.
using LatencyLookup = std::function<std::optional<unsigned>(const std::string& portName)>;

// What a front-end may set of the dialog's surroundings.
struct DialogSetup {
    // Entries of the port combo box; empty: "COM1" to "COM16".
    std::vector<std::string> portNames;
    // The line of an entry; empty: a ComPort at 921600 Bd.
    LineFactory openLine;
    // The latency timer of an opened port's adapter; empty: the system's (adapterLatencyMs).
    // Above kLatencyWarnAboveMs a box says once per port how much slower burns will be.
    LatencyLookup adapterLatency;
    // Where the port selection is kept between runs: loaded at initialisation and stored at
    // closing. nullptr: not kept (a program that must not change the window's choice).
    const Settings* settings = nullptr;
    // The protocol's seams (tests shorten its time-outs); the defaults are the program's.
    ProtocolOptions protocol;
    // Every burn is read back and compared with its image (the status line says so).
    bool verify = false;
    // A check rather than a burn: each burn request of the procedure reads the module instead
    // and compares it with these images of its side (0: the only processor, A or the left
    // module; 1: B or the right one). The engine's checkedModules() has the outcome.
    bool check = false;
    std::array<std::vector<ByteSource*>, 2> checkImages;
    // Where every ended run of a burn is recorded (a check burns nothing and is not); empty:
    // nowhere. A record that cannot be written gets a message box of its own and leaves the
    // run's result as it was.
    std::filesystem::path journal;
    std::chrono::milliseconds journalLockWait = kAppendLockWait;
    // Which front-end ran the unit, as the record names it.
    std::string frontEnd = "window";
};

// The main window's logic ("wokno" is the window's module): the port and the whole
// communication stack on it, the five unit procedures, and every handler of the window: the
// buttons "Otevřít", "Zavřít" and "Naprogramovat", the unit selection, the three notifications
// of the worker threads, and closing. It reaches the window only through a DialogView.
//
// Everything runs on one thread, the one that drains the notifications. Nothing here blocks:
// a press starts one exchange on the line, and each notification advances the engine a step.
class MainDialog {
public:
    MainDialog(const SwCatalogue& catalogue, PlatformList& platforms, DialogView& view,
               DialogSetup setup = {});
    // Releases whatever of the stack still exists, in the order of "Zavřít".
    ~MainDialog();
    MainDialog(const MainDialog&) = delete;
    MainDialog& operator=(const MainDialog&) = delete;

    // WM_INITDIALOG: title, status text, the three combo boxes and the buttons' texts.
    void initDialog();

    void onOpenPort();     // 201 "Otevřít"
    void onClosePort();    // 202 "Zavřít"
    void onProgram();      // 205 "Naprogramovat"
    void onUnitChanged();  // 204, selection changed
    void onRxData(std::intptr_t count);
    void onComError(std::intptr_t code);
    void onTimeout();
    // One of the three notifications, by its message number.
    void onNotification(const Notification& notification);
    // WM_CLOSE: keeps the port selection, winds down a run and the port, shows a pending
    // serial-port message and destroys the window.
    void onCloseWindow();

    // The command-UI pass: enables and disables the controls 200 to 205.
    void updateControls();

    bool portOpen() const { return port_ != nullptr; }
    bool awaitingOperator() const { return awaitingOperator_; }
    const ProgrammingEngine* engine() const { return engine_.get(); }
    // The protocol, for a front-end's trace; nullptr without a port.
    CommandProtocol* protocol() const { return protocol_.get(); }
    // The procedure of a unit kind; nullptr without a port.
    const UnitProcedure* unit(std::uint32_t kind) const;
    bool waitCursorShown() const { return waitCursorShown_; }
    // The number that messages about the open port name it by (COMn).
    unsigned portNumber() const { return portNumber_; }

private:
    // After the protocol has taken a serial event or a time-out: the engine's step, the
    // window, and the end of a request (its procedure ends or goes on). failureOnly: the event
    // cannot complete a request (a line error, a time-out), so a request it ends has failed.
    void afterProtocolEvent(bool failureOnly);
    // The operator's prompt, the info text and progress bar, and the controls.
    void refreshWindow();
    void updateInfo();
    void updatePrompt();
    void updateCursor();
    void resetProcedure();
    void dispatchRequest(const ProcedureRequest& request);
    // After the engine moved: an ended request ends the procedure or starts its next request.
    void settleRequest(std::uint32_t unit);
    void showStringMessage(unsigned id);
    // The record of a run: begun when "Naprogramovat" starts a procedure, the engine's account
    // of each burn taken in as its request ends, appended to the journal when the run ends.
    void beginRun(std::uint32_t unit, std::uint32_t version);
    void takeBurnedParts();
    void endRun(const char* result, const std::string& error);
    // The box about a slow adapter, once per port while the program runs.
    void warnOfSlowAdapter(const std::string& portName);
    void showPendingMessage();
    // Stops the port's threads; a serial-port error on the way becomes the pending message.
    void stopPort();
    void destroyStack();
    std::uint32_t selectedUnit() const;
    bool unitInProgress() const;
    bool engineIsBusy() const;

    const SwCatalogue* catalogue_;
    PlatformList& platforms_;
    DialogView& view_;
    DialogSetup setup_;

    std::unique_ptr<SerialLine> port_;
    std::unique_ptr<Df1FrameTx> frameTx_;
    std::unique_ptr<Df1FrameRx> frameRx_;
    std::unique_ptr<CommandProtocol> protocol_;
    std::unique_ptr<ProgrammingEngine> engine_;
    std::array<std::unique_ptr<UnitProcedure>, 5> units_;
    bool awaitingOperator_ = false;

    struct Run {
        JournalRecord record;
        std::chrono::steady_clock::time_point start;
        bool doubleBurn = false;    // the last burn request was of both processors
        std::uint32_t burnSide = 0;  // ... else of this side
    };
    std::optional<Run> run_;

    unsigned portNumber_ = 0;
    bool waitCursorShown_ = false;
    bool lineErrorShown_ = false;
    bool closing_ = false;
    std::set<std::string> slowAdaptersShown_;
};

// The 16 entries of the window's port combo box, "COM1" to "COM16".
std::vector<std::string> defaultPortNames();

}  // namespace zq
