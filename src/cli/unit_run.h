#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cli/cli_context.h"
#include "cli/terminal_view.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace zq {
class MainDialog;
class NotificationQueue;
class SwCatalogue;
struct DialogSetup;
}  // namespace zq

namespace zq::cli {

class WireTrace;

struct UnitRunOptions {
    std::string port;
    std::string unit;
    std::string sw;
    std::string trace;
    bool yes = false;
    bool verify = false;
    // Units burnt one after the other on the open port; 0: until the operator ends it.
    unsigned series = 1;
};

// A unit's procedure at the terminal, as the operator runs it at the window: the dialog's
// logic on a TerminalView, Enter for "Naprogramovat" (or --yes), Ctrl-C for the close box.
// `burn` runs it as it is; `check` sets the dialog up to read instead of burn, and reports.
class UnitRun {
public:
    UnitRun(CliContext& context, const UnitRunOptions& options);
    virtual ~UnitRun();
    UnitRun(const UnitRun&) = delete;
    UnitRun& operator=(const UnitRun&) = delete;

    int run();

protected:
    // What the command adds to the dialog's setup, once the unit and version are known. False
    // ends the run as failed, after a message on standard error.
    virtual bool prepare(const SwCatalogue& catalogue, std::uint32_t unit, std::int32_t version,
                         DialogSetup& setup);
    // The procedure ended with "Hotovo": the exit code, after what the command has to say.
    virtual int succeeded(MainDialog& dialog, TerminalView& view);

    TerminalView::Style style() const;
    int usageError(const std::string& reason);

    CliContext& context_;
    const UnitRunOptions& options_;

private:
    enum class UnitEnd { Done, Failed, Aborted };
    // One unit's procedure, from the operator's press (already made when pressed is true) to
    // "Hotovo" or "Chyba"; Aborted when the window closes or Ctrl-C comes, which also closes
    // the window.
    UnitEnd runUnit(MainDialog& dialog, TerminalView& view, NotificationQueue& queue,
                    bool pressed);
    // The units after the first; the exit code.
    int runSeries(MainDialog& dialog, TerminalView& view, NotificationQueue& queue);

    // Hands the workers' notifications to the dialog until the engine has nothing more to do,
    // the window closes, or Ctrl-C comes. False when the window must close.
    bool pump(MainDialog& dialog, TerminalView& view, NotificationQueue& queue);

    // Outlives the dialog: the protocol reports to it until the port is gone.
    std::unique_ptr<WireTrace> trace_;
};

// The options of every command that runs a unit's procedure: --port, --unit, --sw (returned),
// --trace and --yes.
CLI::Option* addUnitRunOptions(CLI::App& command, UnitRunOptions& options);

// "KRAB101" ... by its name ignoring case; -1 for none.
std::int32_t findUnitKind(const std::string& name);

}  // namespace zq::cli
