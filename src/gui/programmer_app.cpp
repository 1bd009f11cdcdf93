#include "gui/programmer_app.h"

#include <utility>

#include "engine/platform_list.h"
#include "gui/app_startup.h"
#include "gui/app_version.h"
#include "gui/journal.h"
#include "gui/wokno.h"
#include "os/http_client.h"
#include "support/fail.h"
#include "support/string_table.h"

namespace zq {

ProgrammerApp::ProgrammerApp(AppToolkit& toolkit, AppOptions options)
    : toolkit_(toolkit), options_(std::move(options)) {}

ProgrammerApp::~ProgrammerApp() {
    if (running_) shutdown();
}

bool ProgrammerApp::startup() {
    failureHandler_ = options_.makeFailureHandler ? options_.makeFailureHandler()
                                                  : std::make_unique<FailureHandler>();
    toolkit_.loadIcon();
    std::string message;
    if (!readStartupCatalogue(catalogue_, message, options_.programDirectory)) {
        fail(message);
        return false;
    }
    runUpdateCheck();
    platforms_ = std::make_unique<PlatformList>();

    DialogSetup setup;
    setup.settings = options_.settings != nullptr ? options_.settings : &ownSettings_;
    if (!options_.programDirectory.empty())
        setup.verify = readBurnConfig(options_.programDirectory).verify;
    setup.journal = journalPath(options_.programDirectory);
    DialogView& view = toolkit_.createMainWindow(setup);
    mainDialog_ = std::make_unique<MainDialog>(catalogue_, *platforms_, view, std::move(setup));
    mainDialog_->initDialog();
    toolkit_.showMainWindow(*mainDialog_);
    running_ = true;
    return true;
}

void ProgrammerApp::fail(const std::string& message) {
    toolkit_.showStartupMessage(message);
    catalogue_ = SwCatalogue{};
    failureHandler_.reset();
}

void ProgrammerApp::shutdown() {
    if (!running_) return;
    running_ = false;
    // The dialog's logic goes first: its destructor stops the port's threads, which post to
    // the window until they end.
    mainDialog_.reset();
    toolkit_.destroyMainWindow();
    platforms_.reset();
    failureHandler_.reset();
    catalogue_ = SwCatalogue{};
}

void ProgrammerApp::runUpdateCheck() {
    if (options_.programDirectory.empty()) return;
    std::optional<UpdateConfig> config = readUpdateConfig(options_.programDirectory);
    if (!config) return;
    std::unique_ptr<HttpClient> ownClient;
    HttpClient* http = options_.http;
    if (http == nullptr) {
        ownClient = makeHttpClient(loadString(kStrAppName));
        http = ownClient.get();
    }
    UpdateCheckContext context{
        options_.settings != nullptr ? *options_.settings : ownSettings_,
        *http,
        options_.clock ? options_.clock() : currentUnixTime(),
        false,
        [this](const std::string& question) { return toolkit_.askYesNo(question); },
        [this](const std::string& url) { toolkit_.openWebPage(url); },
    };
    updateCheck_ = zq::runUpdateCheck(config, context);
}

}  // namespace zq
