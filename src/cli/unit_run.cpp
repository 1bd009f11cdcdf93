#include "cli/unit_run.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
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
#include "gui/journal.h"
#include "gui/sw_catalogue.h"
#include "gui/unit_procedure.h"
#include "gui/wokno.h"
#include "os/notifications.h"
#include "os/shell.h"
#include "os/serial_ports.h"
#include "support/string_table.h"
#include "support/json_writer.h"
#include "support/text.h"

namespace zq::cli {

namespace {

// How often the loop looks for Ctrl-C while no notification comes.
constexpr std::chrono::milliseconds kPollInterval{100};

// The start-up enters RT19_bin: a port named by a path relative to where the program was
// started must still lead to the same device.
std::string portPath(const std::string& port) {
    std::error_code error;
    const std::filesystem::path path(fromUtf8(port));
    if (path.is_absolute() || !std::filesystem::exists(path, error)) return port;
    return toUtf8(std::filesystem::absolute(path, error).wstring());
}

std::string seconds(std::chrono::milliseconds time) {
    return formatText("%.1f s", static_cast<double>(time.count()) / 1000.0);
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
    if (!readStartupCatalogue(catalogue, message, programDirectory())) return usageError(message);
    const std::int32_t unit = findUnitKind(options_.unit);
    if (unit < 0) return usageError("zidavuvorud-cli: unknown unit '" + options_.unit + "'");
    std::int32_t version = catalogue.defaultIndex();
    if (!options_.sw.empty()) {
        version = catalogue.findVersion(options_.sw);
        if (version < 0) return usageError(formatString(kStrNoSwVersion, options_.sw.c_str()));
    }
    DialogSetup setup;
    setup.portNames = {port};
    setup.journal = journalPath(programDirectory());
    setup.frontEnd = "cli";
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
    TerminalView view(context_.out, context_.err, style());
    if (setup.check) view.hideDone();
    MainDialog dialog(catalogue, platforms, view, setup);
    view.setCountSource([&dialog] {
        const ProgrammingEngine* engine = dialog.engine();
        return engine != nullptr ? TerminalView::Count{engine->bytesDone(), engine->bytesTotal()}
                                 : TerminalView::Count{};
    });
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
    if (options_.series != 1) return runSeries(dialog, view, queue);

    const UnitEnd end = runUnit(dialog, view, queue, false);
    if (end == UnitEnd::Aborted) {
        const ProgrammingEngine* engine = dialog.engine();
        view.result(false, engine != nullptr ? engine->errorText() : "");
        return kExitFailed;
    }
    if (end == UnitEnd::Done) {
        const int code = succeeded(dialog, view);
        return code == kExitDone && !view.journalError().empty() ? kExitNotRecorded : code;
    }
    dialog.onClosePort();
    view.result(false, "");
    return kExitFailed;
}

UnitRun::UnitEnd UnitRun::runUnit(MainDialog& dialog, TerminalView& view,
                                  NotificationQueue& queue, bool pressed) {
    bool closing = false;
    do {
        if (!pressed && !options_.yes && !waitForPress(style(), context_.out)) {
            closing = true;
            break;
        }
        pressed = false;
        InterruptCatcher interrupts;
        dialog.onProgram();
        if (trace_) trace_->engine(dialog.engine());
        closing = !pump(dialog, view, queue);
    } while (!closing && dialog.awaitingOperator());

    if (closing) {
        // As the window's close box: the engine aborts a run, then the port's threads stop.
        dialog.onCloseWindow();
        const ProgrammingEngine* engine = dialog.engine();
        if (trace_) trace_->outcome(formatString(kStrError), engine != nullptr ? engine->errorText() : "");
        return UnitEnd::Aborted;
    }
    const bool ok = view.ending() == kStrDone;
    if (trace_)
        trace_->outcome(formatString(ok ? kStrDone : kStrError),
                        dialog.engine() != nullptr ? dialog.engine()->errorText() : "");
    return ok ? UnitEnd::Done : UnitEnd::Failed;
}

int UnitRun::runSeries(MainDialog& dialog, TerminalView& view, NotificationQueue& queue) {
    static constexpr const char* kResults[] = {"done", "error", "aborted"};
    std::vector<std::chrono::milliseconds> times;
    std::array<unsigned, 3> counts{};
    bool unrecorded = false;
    bool pressed = false;
    UnitEnd end = UnitEnd::Done;
    for (unsigned n = 1;; ++n) {
        view.beginUnit();
        const auto start = std::chrono::steady_clock::now();
        end = runUnit(dialog, view, queue, pressed);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        times.push_back(took);
        ++counts[static_cast<std::size_t>(end)];
        unrecorded = unrecorded || !view.journalError().empty();
        const char* result = kResults[static_cast<std::size_t>(end)];
        if (style() == TerminalView::Style::Json)
            jsonLine(context_.out, [&](JsonWriter& json) {
                json.field("event", "unit");
                json.field("n", n);
                json.field("result", result);
                json.field("duration_ms", static_cast<std::int64_t>(took.count()));
            });
        else
            view.note(formatText("Unit %u: %s in %s", n, result, seconds(took).c_str()));

        if (end == UnitEnd::Aborted || (options_.series != 0 && n == options_.series)) break;
        // A new module needs its power and adapter seen to; with --yes the connect's first
        // step waits for its boot loader all the same.
        view.prompt(loadString(kStrNextUnit));
        if (!options_.yes) {
            if (style() != TerminalView::Style::Json)
                context_.out << "[Enter] Naprogramovat, [q] konec" << std::endl;
            InterruptCatcher interrupts;
            std::string line;
            if (!std::getline(std::cin, line) || InterruptCatcher::interrupted() ||
                line.find('q') != std::string::npos || line.find('Q') != std::string::npos)
                break;
        }
        pressed = true;
    }

    std::vector<std::chrono::milliseconds> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t middle = sorted.size() / 2;
    const std::chrono::milliseconds median =
        sorted.size() % 2 != 0 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
    const std::chrono::milliseconds slowest = sorted.back();
    const unsigned units = static_cast<unsigned>(times.size());
    if (style() == TerminalView::Style::Json)
        jsonLine(context_.out, [&](JsonWriter& json) {
            json.field("event", "series");
            json.field("units", units);
            json.field("done", counts[0]);
            json.field("failed", counts[1]);
            json.field("aborted", counts[2]);
            json.field("median_ms", static_cast<std::int64_t>(median.count()));
            json.field("slowest_ms", static_cast<std::int64_t>(slowest.count()));
        });
    else
        view.note(formatText("Series: %u units, %u done, %u failed, %u aborted; per unit median "
                             "%s, slowest %s",
                             units, counts[0], counts[1], counts[2], seconds(median).c_str(),
                             seconds(slowest).c_str()));

    const bool allDone = counts[0] == units;
    if (end == UnitEnd::Aborted) {
        const ProgrammingEngine* engine = dialog.engine();
        view.result(false, engine != nullptr ? engine->errorText() : "");
        return kExitFailed;
    }
    dialog.onClosePort();
    view.result(allDone, allDone ? "" : "not every unit of the series was burnt");
    if (!allDone) return kExitFailed;
    return unrecorded ? kExitNotRecorded : kExitDone;
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
