#include "gui/wokno.h"

#include <optional>
#include <utility>

#include "df1/command_protocol.h"
#include "df1/df1_frame.h"
#include "engine/programming_engine.h"
#include "gui/adapter_latency.h"
#include "gui/app_version.h"
#include "gui/settings.h"
#include "gui/sw_catalogue.h"
#include "os/comport.h"
#include "os/file_sys.h"
#include "os/serial_ports.h"
#include "os/shell.h"
#include "support/fail.h"
#include "support/string_table.h"
#include "support/vyjimka.h"

namespace zq {

namespace {

constexpr unsigned kPortCount = 16;

bool hasEnded(EngineState state) {
    return state == EngineState::Succeeded || state == EngineState::Failed;
}

// Runs action. A serial-port error that it throws becomes the pending message: false then.
template <class Action>
bool parkPortError(Action&& action) {
    try {
        action();
        return true;
    } catch (CVyjimka* e) {
        reportException(e);
        e->release();
        return false;
    }
}

}  // namespace

std::vector<std::string> defaultPortNames() {
    std::vector<std::string> names;
    for (unsigned n = 1; n <= kPortCount; ++n) names.push_back(comPortName(n));
    return names;
}

MainDialog::MainDialog(const SwCatalogue& catalogue, PlatformList& platforms, DialogView& view,
                       DialogSetup setup)
    : catalogue_(&catalogue), platforms_(platforms), view_(view), setup_(std::move(setup)) {
    if (setup_.portNames.empty()) setup_.portNames = defaultPortNames();
    if (!setup_.openLine) {
        setup_.openLine = [](const std::string& name) -> std::unique_ptr<SerialLine> {
            return std::make_unique<ComPort>(name, kComPortBaudRate);
        };
    }
    if (!setup_.adapterLatency) setup_.adapterLatency = adapterLatencyMs;
}

MainDialog::~MainDialog() {
    destroyStack();
}

void MainDialog::initDialog() {
    const std::string appName = loadString(kStrAppName);
    view_.setTitle(appName);
    view_.setText(kStatusText, appName + " " + programVersion() + ", verze dat " +
                                   catalogue_->dataVersion() +
                                   (setup_.verify ? loadString(kStrVerifying) : ""));

    view_.setItems(kPortCombo, setup_.portNames);
    int port = setup_.settings != nullptr ? setup_.settings->loadPortIndex() : 0;
    // A stored index beyond the list leaves the combo box without a selection, as the window's
    // combo box does when asked to select an entry it does not have.
    if (port >= static_cast<int>(setup_.portNames.size())) port = -1;
    view_.setSelection(kPortCombo, port);

    std::vector<std::string> versions;
    for (std::uint32_t i = 0; i < catalogue_->versionCount(); ++i)
        versions.push_back(catalogue_->versionName(i));
    view_.setItems(kVersionCombo, versions);
    view_.setSelection(kVersionCombo, catalogue_->defaultIndex());

    std::vector<std::string> units;
    for (std::uint32_t kind = 0; kind < kUnitKindCount; ++kind) units.push_back(unitName(kind));
    view_.setItems(kUnitCombo, units);
    view_.setSelection(kUnitCombo, 0);

    view_.setText(kOpenButton, loadString(kStrOpen));
    view_.setText(kCloseButton, loadString(kStrClose));
    updateControls();
}

// The port and its stack.

void MainDialog::onOpenPort() {
    if (!require(port_ == nullptr, "expected state")) return;
    const int selected = view_.selection(kPortCombo);
    const bool listed = selected >= 0 && selected < static_cast<int>(setup_.portNames.size());
    // No selection asks for port number 0, which the port layer refuses with its open error.
    const std::string name =
        listed ? setup_.portNames[static_cast<std::size_t>(selected)] : comPortName(0);
    const unsigned number = comPortNumber(name);
    portNumber_ = number != 0 ? number : static_cast<unsigned>(selected + 1);

    std::unique_ptr<SerialLine> line;
    if (!parkPortError([&] {
            line = setup_.openLine(name);
            line->open();
        })) {
        showPendingMessage();
        line.reset();
    }
    if (line != nullptr) {
        port_ = std::move(line);
        frameTx_ = std::make_unique<Df1FrameTx>(*port_);
        frameRx_ = std::make_unique<Df1FrameRx>(*port_);
        protocol_ = std::make_unique<CommandProtocol>(*frameTx_, *frameRx_, setup_.protocol);
        engine_ = std::make_unique<ProgrammingEngine>(*protocol_, platforms_);
        engine_->setVerify(setup_.verify);
        for (std::uint32_t kind = 0; kind < kUnitKindCount; ++kind)
            units_[kind] = createUnitProcedure(kind);
    }
    refreshWindow();
    if (port_ != nullptr) warnOfSlowAdapter(name);
}

// Only an open port tells the true timer: on Linux the open asks the driver to lower it. A
// burn goes on with whatever timer the adapter has; the box only says what it will cost.
void MainDialog::warnOfSlowAdapter(const std::string& portName) {
    if (slowAdaptersShown_.count(portName) != 0) return;
    const std::optional<unsigned> latency = setup_.adapterLatency(portName);
    if (!latency || !latencySlowsBurns(*latency)) return;
    slowAdaptersShown_.insert(portName);
    view_.showMessage(kStrSlowAdapter,
                      formatString(kStrSlowAdapter, portName.c_str(), static_cast<int>(*latency),
                                   static_cast<int>(burnSlowdown(*latency))));
}

void MainDialog::onClosePort() {
    if (!require(port_ != nullptr, "expected state")) return;
    endRun("aborted", kUserAbort);
    stopPort();
    showPendingMessage();
    destroyStack();
    refreshWindow();
}

void MainDialog::stopPort() {
    // Both are tried: a receive thread that would not stop must not leave the transmitter on.
    parkPortError([&] { port_->stopRx(); });
    parkPortError([&] { port_->stopTx(); });
}

void MainDialog::destroyStack() {
    for (auto& unit : units_) unit.reset();
    engine_.reset();
    protocol_.reset();
    frameRx_.reset();
    frameTx_.reset();
    port_.reset();
    awaitingOperator_ = false;
}

// The run.

void MainDialog::onProgram() {
    if (!require(engine_ != nullptr, "expected state")) return;
    const std::uint32_t unit = selectedUnit();
    UnitProcedure& procedure = *units_[unit];
    bool failed = false;
    if (!awaitingOperator_) {
        procedure.reset();
        const int version = view_.selection(kVersionCombo);
        failed = !require(version >= 0, "correct index") ||
                 !procedure.openImages(
                     *catalogue_, static_cast<std::uint32_t>(version),
                     [this](unsigned id, const std::string& text) { view_.showMessage(id, text); });
    }
    const bool starting = !awaitingOperator_;
    awaitingOperator_ = false;
    // Each file that did not open has had its own message; the procedure has not started.
    if (failed) return;
    if (starting) beginRun(unit, static_cast<std::uint32_t>(view_.selection(kVersionCombo)));

    procedure.confirm();
    const ProcedureRequest request = procedure.nextRequest();
    if (require(request.kind != ProcedureRequest::None, "request")) {
        dispatchRequest(request);
        if (hasEnded(engine_->state())) {
            updateInfo();
            settleRequest(unit);
        }
    }
    refreshWindow();
}

void MainDialog::onUnitChanged() {
    updatePrompt();
}

void MainDialog::dispatchRequest(const ProcedureRequest& request) {
    switch (request.kind) {
        case ProcedureRequest::ConnectSingle:
            engine_->startConnect(false);
            return;
        case ProcedureRequest::ConnectDouble:
            engine_->startConnect(true);
            return;
        case ProcedureRequest::BurnSingle:
            if (run_) {
                run_->doubleBurn = false;
                run_->burnSide = request.side;
            }
            if (setup_.check && require(request.side < 2, "side"))
                engine_->check(setup_.checkImages[request.side]);
            else if (require(request.fileA != nullptr, "image open"))
                engine_->burn(*request.fileA);
            return;
        case ProcedureRequest::BurnDouble:
            if (run_) run_->doubleBurn = true;
            if (setup_.check)
                engine_->checkDouble(setup_.checkImages[0], setup_.checkImages[1]);
            else if (require(request.fileA != nullptr && request.fileB != nullptr, "image open"))
                engine_->burnDouble(*request.fileA, *request.fileB);
            return;
        default:
            failExplicit("request kind");
            return;
    }
}

void MainDialog::settleRequest(std::uint32_t unit) {
    const EngineState state = engine_->state();
    if (!hasEnded(state)) return;
    UnitProcedure& procedure = *units_[unit];
    const std::string error = engine_->errorText();
    takeBurnedParts();
    engine_->acknowledge();
    if (state == EngineState::Failed) {
        endRun("error", error);
        showStringMessage(kStrError);
        resetProcedure();
    } else {
        procedure.stepDone();
    }
    if (procedure.inProgress()) {
        const ProcedureRequest request = procedure.nextRequest();
        if (request.kind != ProcedureRequest::None) {
            dispatchRequest(request);
            updateInfo();
            // A burn whose image is refused before any command ends inside the request: no
            // event would ever follow it, so it is settled here.
            if (hasEnded(engine_->state())) settleRequest(unit);
        } else {
            awaitingOperator_ = true;
            engine_->disconnect();
        }
    } else if (state == EngineState::Succeeded) {
        endRun("done", "");
        showStringMessage(kStrDone);
        resetProcedure();
    }
}

void MainDialog::resetProcedure() {
    if (!require(engine_ != nullptr, "expected state")) return;
    units_[selectedUnit()]->reset();
    if (engine_->state() != EngineState::Idle) engine_->disconnect();
    refreshWindow();
}

// The workers' notifications.

void MainDialog::onNotification(const Notification& notification) {
    switch (notification.message) {
        case WM_COM_RXDATA:
            onRxData(notification.wParam);
            break;
        case WM_COM_ERROR:
            onComError(notification.wParam);
            break;
        case WM_COM_TIMEOUT:
            onTimeout();
            break;
        default:
            break;
    }
}

void MainDialog::onRxData(std::intptr_t count) {
    // A notification that the receive thread posted just before "Zavřít" stopped it comes
    // after the stack is gone; it belongs to nothing any more.
    if (!engineIsBusy()) return;
    protocol_->onSerialEvent(CommandProtocol::kBytesArrived, static_cast<std::uint32_t>(count));
    afterProtocolEvent(false);
}

void MainDialog::onComError(std::intptr_t code) {
    if (code == kComErrorRxThread || code == kComErrorTxThread) {
        view_.postClose();
        return;
    }
    if (!engineIsBusy()) return;
    // The box runs its own message loop, in which the rest of the run may arrive. A burst of
    // line errors gets one box; the errors behind it still reach the protocol.
    if (!lineErrorShown_) {
        lineErrorShown_ = true;
        view_.showMessage(kStrReceiveError,
                          formatString(kStrReceiveError, static_cast<int>(portNumber_),
                                       static_cast<unsigned>(code)));
        lineErrorShown_ = false;
        // The run ended (or the window closed) while the box was open: nothing is left for
        // this error to do.
        if (!engineIsBusy()) {
            updatePrompt();
            updateControls();
            return;
        }
    }
    protocol_->onSerialEvent(CommandProtocol::kLineError, 0);
    afterProtocolEvent(true);
}

void MainDialog::onTimeout() {
    // The protocol posts a time-out once it has settled its exchange. If bytes of the same
    // exchange were handled before this notification, the engine has already ended the request
    // and the time-out has nothing left to say.
    if (!engineIsBusy()) return;
    afterProtocolEvent(true);
}

void MainDialog::afterProtocolEvent(bool failureOnly) {
    const std::uint32_t unit = selectedUnit();
    engine_->step();
    updateInfo();
    updateCursor();
    const EngineState state = engine_->state();
    if (failureOnly && hasEnded(state) &&
        !require(state == EngineState::Failed, "expected state")) {
        // No answer completed the request, whatever the engine says: the run has failed.
        const std::string error = engine_->errorText();
        takeBurnedParts();
        engine_->acknowledge();
        endRun("error", error);
        showStringMessage(kStrError);
        resetProcedure();
    } else {
        settleRequest(unit);
    }
    updatePrompt();
    updateControls();
}

// Closing the window.

void MainDialog::onCloseWindow() {
    // A second close request (both port threads failed, each posted one) may arrive inside the
    // first one's message box; the window closes once.
    if (closing_) return;
    closing_ = true;
    if (setup_.settings != nullptr)
        setup_.settings->storePortIndex(static_cast<std::uint8_t>(view_.selection(kPortCombo)));
    if (engineIsBusy()) {
        engine_->abort();
        takeBurnedParts();
        updateInfo();
    }
    // Also a unit that waits for the operator between its modules: it was not finished.
    endRun("aborted", kUserAbort);
    if (port_ != nullptr) stopPort();
    showPendingMessage();
    view_.destroyWindow();
}

// What the window shows.

void MainDialog::refreshWindow() {
    updatePrompt();
    updateInfo();
    updateControls();
}

void MainDialog::updateInfo() {
    if (engine_ == nullptr) {
        view_.setText(kInfoText, "");
        view_.showProgress(false);
        return;
    }
    const EngineState state = engine_->state();
    switch (state) {
        case EngineState::Idle:
        case EngineState::Busy:
        case EngineState::Succeeded:
            view_.setText(kInfoText, engine_->infoText());
            break;
        case EngineState::Connected:
            view_.setText(kInfoText, "");
            break;
        case EngineState::Failed:
            view_.setText(kInfoText, engine_->errorText());
            break;
        default:
            failExplicit("engine state");
            break;
    }
    const std::uint8_t progress = engine_->progress();
    if (state == EngineState::Busy && progress < kNoProgress) {
        view_.setProgress(progress);
        view_.showProgress(true);
    } else {
        view_.showProgress(false);
    }
}

void MainDialog::updatePrompt() {
    view_.setText(kOperatorText, engine_ != nullptr ? units_[selectedUnit()]->prompt() : "");
}

void MainDialog::updateCursor() {
    if (engine_ != nullptr && engine_->isPreparing()) {
        if (!waitCursorShown_) {
            view_.beginWaitCursor();
            waitCursorShown_ = true;
        }
    } else if (waitCursorShown_) {
        view_.endWaitCursor();
        waitCursorShown_ = false;
    }
}

void MainDialog::updateControls() {
    const bool open = port_ != nullptr;
    const bool running = open && unitInProgress();
    view_.setEnabled(kPortCombo, !open);
    view_.setEnabled(kOpenButton, !open);
    view_.setEnabled(kCloseButton, open && !running);
    view_.setEnabled(kVersionCombo, open && !running);
    view_.setEnabled(kUnitCombo, open && !running);
    view_.setEnabled(kProgramButton, open && (!running || awaitingOperator_));
}

void MainDialog::showStringMessage(unsigned id) {
    view_.showMessage(id, loadString(id));
}

void MainDialog::showPendingMessage() {
    if (std::optional<std::string> text = takePendingMessage()) view_.showMessage(kOwnText, *text);
}

// The journal.

void MainDialog::beginRun(std::uint32_t unit, std::uint32_t version) {
    run_.reset();
    if (setup_.check || setup_.journal.empty()) return;
    Run run;
    run.start = std::chrono::steady_clock::now();
    JournalRecord& record = run.record;
    record.startMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    record.station = stationName();
    record.user = loginName();
    record.program = programVersion();
    record.frontEnd = setup_.frontEnd;
    const int port = view_.selection(kPortCombo);
    if (port >= 0 && port < static_cast<int>(setup_.portNames.size()))
        record.port = setup_.portNames[static_cast<std::size_t>(port)];
    record.unit = unitName(unit);
    record.sw = catalogue_->versionId(version);
    record.swName = catalogue_->versionName(version);
    record.dataVersion = catalogue_->dataVersion();
    for (std::uint32_t side = 0; side < kSideCount; ++side) {
        FileSource* image = units_[unit]->image(side);
        if (image == nullptr) continue;
        JournalPart part;
        part.side = sideName(unit, side);
        part.file = catalogue_->fileName(version, unit, side);
        describeImage(*image, part);
        record.parts.push_back(std::move(part));
    }
    run_ = std::move(run);
}

void MainDialog::takeBurnedParts() {
    if (!run_ || engine_ == nullptr) return;
    std::vector<JournalPart>& parts = run_->record.parts;
    for (const BurnedPart& burned : engine_->burnedParts()) {
        const std::size_t side = run_->doubleBurn ? (burned.channel == 0 ? 0 : 1) : run_->burnSide;
        if (side >= parts.size()) continue;
        JournalPart& part = parts[side];
        part.plID = burned.plID;
        part.platform = burned.platform;
        part.bytesWritten = burned.bytesWritten;
        part.retransmissions = burned.retransmissions;
        part.verified = burned.verified;
    }
}

void MainDialog::endRun(const char* result, const std::string& error) {
    if (!run_) return;
    Run run = std::move(*run_);
    run_.reset();
    run.record.durationMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - run.start)
                                .count();
    run.record.result = result;
    run.record.error = error;
    const std::string failure =
        appendToJournal(setup_.journal, run.record, setup_.journalLockWait);
    if (!failure.empty())
        view_.showMessage(kStrJournalFailed, formatString(kStrJournalFailed, failure.c_str()));
}

// Queries.

const UnitProcedure* MainDialog::unit(std::uint32_t kind) const {
    return kind < units_.size() ? units_[kind].get() : nullptr;
}

std::uint32_t MainDialog::selectedUnit() const {
    const int selected = view_.selection(kUnitCombo);
    if (!require(selected >= 0 && selected < static_cast<int>(kUnitKindCount), "unit selected"))
        return 0;
    return static_cast<std::uint32_t>(selected);
}

bool MainDialog::unitInProgress() const {
    const UnitProcedure* procedure = units_[selectedUnit()].get();
    return procedure != nullptr && procedure->inProgress();
}

bool MainDialog::engineIsBusy() const {
    return engine_ != nullptr && engine_->state() == EngineState::Busy;
}

}  // namespace zq
