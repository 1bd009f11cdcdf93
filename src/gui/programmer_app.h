#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "gui/app_toolkit.h"
#include "gui/settings.h"
#include "gui/sw_catalogue.h"
#include "gui/update_check.h"

namespace zq {

class FailureHandler;
class HttpClient;
class MainDialog;
class PlatformList;

struct AppOptions {
    // The folder of the program itself, where zidavuvorud.ini (the installation's update
    // configuration) is read and RT19_bin is looked for when the current folder has none;
    // empty: neither.
    std::filesystem::path programDirectory;
    // Where the port and the time of the last update check are kept; nullptr: the program's
    // own place. Must outlive the application.
    const Settings* settings = nullptr;
    // Seconds since 1970-01-01 00:00 UTC; empty: the system's clock.
    std::function<std::int64_t()> clock;
    // The update check's HTTP client; nullptr: the platform's. Must outlive the application.
    HttpClient* http = nullptr;
    // The process-wide contract-failure handler of the front-end; empty: the default report
    // (an assertion report on standard error, or the Windows report box).
    std::function<std::unique_ptr<FailureHandler>()> makeFailureHandler;
};

// The application: start-up, the process-wide objects, and shut-down. A front-end makes one,
// calls startup() and, when it succeeded, runs its message loop until the main window is
// destroyed; then shutdown() (or the destructor) releases everything in order.
//
// Start-up: the failure handler, the icon, RT19_bin as the current directory, config.ini into
// the catalogue, the weekly update check, the platform list, the main dialog. A failure on the
// way shows one message box, and no window is ever created.
class ProgrammerApp {
public:
    explicit ProgrammerApp(AppToolkit& toolkit, AppOptions options = {});
    // Shuts down if startup() succeeded and shutdown() was not called.
    ~ProgrammerApp();
    ProgrammerApp(const ProgrammerApp&) = delete;
    ProgrammerApp& operator=(const ProgrammerApp&) = delete;

    // false: exactly one message box was shown and no window exists; the program ends.
    bool startup();
    // Releases the main dialog (and with it whatever of the port's stack still exists), the
    // window, the platform list, the failure handler and the catalogue, in this order.
    void shutdown();

    // nullptr before start-up and after shut-down.
    MainDialog* mainDialog() { return mainDialog_.get(); }
    PlatformList* platforms() { return platforms_.get(); }
    const SwCatalogue& catalogue() const { return catalogue_; }
    // What the start-up's update check did.
    const UpdateCheckResult& updateCheckResult() const { return updateCheck_; }

    // The weekly update check of start-up; never stops the start.
    void runUpdateCheck();

private:
    void fail(const std::string& message);

    AppToolkit& toolkit_;
    AppOptions options_;
    Settings ownSettings_;
    SwCatalogue catalogue_;
    std::unique_ptr<FailureHandler> failureHandler_;
    std::unique_ptr<PlatformList> platforms_;
    std::unique_ptr<MainDialog> mainDialog_;
    UpdateCheckResult updateCheck_;
    bool running_ = false;
};

}  // namespace zq
