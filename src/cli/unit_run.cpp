#include "cli/unit_run.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>

#include "cli/console.h"
#include "cli/wire_trace.h"
#include "df1/command_protocol.h"
#include "engine/platform_list.h"
#include "engine/programming_engine.h"
#include "gui/adapter_latency.h"
#include "gui/app_startup.h"
#include "gui/sw_catalogue.h"
#include "gui/unit_procedure.h"
#include "gui/wokno.h"
#include "os/notifications.h"
#include "os/serial_ports.h"
#include "support/string_table.h"
#include "support/text.h"

namespace zq::cli {

namespace {

// How often the loop looks for Ctrl-C while no notification comes.
constexpr std::chrono::milliseconds kPollInterval{100};

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The start-up enters RT19_bin: a port named by a path relative to where the program was
// started must still lead to the same device.
std::string portPath(const std::string& port) {
    std::error_code error;
    const std::filesystem::path path(fromUtf8(port));
    if (path.is_absolute() || !std::filesystem::exists(path, error)) return port;
    return toUtf8(std::filesystem::absolute(path, error).wstring());
}

// The operator's press of "Naprogramovat": Enter on standard input. False when the input has
// ended or Ctrl-C came instead.
bool waitForPress(const TerminalView::Style style, std::ostream& out) {
    if (style != TerminalView::Style::Json) out << "[Enter] Naprogramovat" << std::endl;
    std::string line;
    return static_cast<bool>(std::getline(std::cin, line)) && !InterruptCatcher::interrupted();
}

// The terminal says more than the window's box, and on standard error, apart from the run's
// output: what a MiB will take and where the README tells how to set the timer.
void warnOfSlowAdapter(const std::string& port, std::ostream& err) {
    const std::optional<unsigned> latency = adapterLatencyMs(port);
    if (!latency || !latencySlowsBurns(*latency)) return;
    char estimate[160];
    std::snprintf(estimate, sizeof estimate, "a burn takes about %.0f s per MiB instead of %.1f s",
                  burnSecondsPerMiB(*latency), burnSecondsPerMiB(0));
    err << "zidavuvorud-cli: warning: the adapter on " << port << " has a latency timer of "
        << *latency << " ms: " << estimate
        << ".\nSet it to 1 ms: see \"USB serial adapters and their latency\" in the README.\n"
        << std::flush;
}

}  // namespace

std::int32_t findUnitKind(const std::string& name) {
    for (std::uint32_t kind = 0; kind < kUnitKindCount; ++kind)
        if (equalsIgnoringCase(name, unitName(kind))) return static_cast<std::int32_t>(kind);
    return -1;
}

CLI::Option* addUnitRunOptions(CLI::App& command, UnitRunOptions& options) {
    command.add_option("--port", options.port, "Serial port of the KVSB adapter (COM3, /dev/...)")
        ->required()
        ->option_text("PORT");
    command
        .add_option("--unit", options.unit,
                    "Unit type: KRAB101, KRCD101, KREF10x, KRGH101 or KRIJ11x")
        ->required()
        ->option_text("NAME");
    CLI::Option* sw =
        command
            .add_option("--sw", options.sw,
                        "Software version: a section of config.ini (default: the catalogue's)")
            ->option_text("ID");
    command
        .add_option("--trace", options.trace,
                    "Write everything on the line to FILE, one JSON object a line")
        ->option_text("FILE");
    command.add_flag("--yes", options.yes,
                     "Go on by itself where the operator would press Naprogramovat");
    return sw;
}

UnitRun::UnitRun(CliContext& context, const UnitRunOptions& options)
    : context_(context), options_(options) {}

UnitRun::~UnitRun() = default;

bool UnitRun::prepare(const SwCatalogue&, std::uint32_t, std::int32_t, DialogSetup& setup) {
    setup.verify = options_.verify;
    return true;
}

int UnitRun::succeeded(MainDialog& dialog, TerminalView& view) {
    dialog.onClosePort();
    view.result(true, "");
    return kExitDone;
}

TerminalView::Style UnitRun::style() const {
    if (context_.json) return TerminalView::Style::Json;
    return &context_.out == &std::cout && stdoutIsTerminal() ? TerminalView::Style::Terminal
                                                             : TerminalView::Style::Plain;
}

int UnitRun::usageError(const std::string& reason) {
    context_.err << reason << '\n';
    return kExitUsage;
}

int UnitRun::run() {
    const std::string port = portPath(options_.port);
    SwCatalogue catalogue;
    std::string message;
    if (!readStartupCatalogue(catalogue, message)) return usageError(message);
    const std::int32_t unit = findUnitKind(options_.unit);
    if (unit < 0) return usageError("zidavuvorud-cli: unknown unit '" + options_.unit + "'");
    std::int32_t version = catalogue.defaultIndex();
    if (!options_.sw.empty()) {
        version = catalogue.findVersion(options_.sw);
        if (version < 0) return usageError(formatString(kStrNoSwVersion, options_.sw.c_str()));
    }
    DialogSetup setup;
    setup.portNames = {port};
    // The window's box about a slow adapter becomes a warning of the command's own.
    setup.adapterLatency = [](const std::string&) { return std::optional<unsigned>(); };
    if (!prepare(catalogue, static_cast<std::uint32_t>(unit), version, setup)) return kExitFailed;

    if (!options_.trace.empty()) {
        trace_ = WireTrace::create(options_.trace, message);
        if (!trace_) return usageError(message);
    }
    Utf8Console console;
    PlatformList platforms;
    NotificationQueue queue;
    ScopedNotificationPoster poster(queue);
    TerminalView view(context_.out, style());
    if (setup.check) view.hideDone();
    MainDialog dialog(catalogue, platforms, view, setup);
    dialog.initDialog();
    view.setSelection(kVersionCombo, version);
    view.setSelection(kUnitCombo, unit);
    dialog.onUnitChanged();

    dialog.onOpenPort();
    if (!dialog.portOpen()) {
        view.result(false, "");
        return kExitFailed;
    }
    warnOfSlowAdapter(port, context_.err);
    if (trace_) dialog.protocol()->setObserver(trace_.get());
    bool closing = false;
    do {
        if (!options_.yes && !waitForPress(style(), context_.out)) {
            closing = true;
            break;
        }
        InterruptCatcher interrupts;
        dialog.onProgram();
        if (trace_) trace_->engine(dialog.engine());
        closing = !pump(dialog, view, queue);
    } while (!closing && dialog.awaitingOperator());

    if (closing) {
        // As the window's close box: the engine aborts a run, then the port's threads stop.
        dialog.onCloseWindow();
        const ProgrammingEngine* engine = dialog.engine();
        const std::string error = engine != nullptr ? engine->errorText() : "";
        if (trace_) trace_->outcome(formatString(kStrError), error);
        view.result(false, error);
        return kExitFailed;
    }
    const bool ok = view.ending() == kStrDone;
    if (trace_)
        trace_->outcome(formatString(ok ? kStrDone : kStrError),
                        dialog.engine() != nullptr ? dialog.engine()->errorText() : "");
    if (ok) return succeeded(dialog, view);
    dialog.onClosePort();
    view.result(false, "");
    return kExitFailed;
}

bool UnitRun::pump(MainDialog& dialog, TerminalView& view, NotificationQueue& queue) {
    for (;;) {
        if (view.closePosted() || InterruptCatcher::interrupted()) return false;
        const ProgrammingEngine* engine = dialog.engine();
        if (engine == nullptr || engine->state() != EngineState::Busy) return true;
        if (std::optional<Notification> n = queue.waitFor(kPollInterval)) {
            if (trace_) trace_->notification(*n);
            dialog.onNotification(*n);
            if (trace_) trace_->engine(dialog.engine());
        }
    }
}

}  // namespace zq::cli
