#include <CLI/CLI.hpp>

#include <chrono>
#include <ctime>
#include <memory>

#include "cli/cli_context.h"
#include "support/json_writer.h"
#include "gui/app_version.h"
#include "gui/settings.h"
#include "gui/update_check.h"
#include "os/http_client.h"
#include "os/shell.h"
#include "support/string_table.h"

namespace zq::cli {

namespace {

const char* outcomeName(UpdateOutcome outcome) {
    switch (outcome) {
    case UpdateOutcome::NotConfigured: return "not-configured";
    case UpdateOutcome::NotDue: return "not-due";
    case UpdateOutcome::NoAnswer: return "no-answer";
    case UpdateOutcome::Failed: return "failed";
    case UpdateOutcome::UpToDate: return "up-to-date";
    case UpdateOutcome::NewerVersion: return "newer";
    }
    return "unknown";
}

std::string utcText(std::int64_t seconds) {
    auto time = static_cast<std::time_t>(seconds);
    const std::tm* utc = std::gmtime(&time);
    char text[32] = "?";
    if (utc != nullptr) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", utc);
    return text;
}

void printJson(const UpdateCheckResult& result, const std::optional<UpdateConfig>& config,
               std::int64_t elapsedMs, std::ostream& out) {
    JsonWriter json(out);
    json.beginObject();
    json.field("outcome", outcomeName(result.outcome));
    json.field("ownVersion", kVersionTag);
    if (config) json.field("versionList", config->versionListUrl());
    if (result.status != 0) json.field("status", result.status);
    if (!result.remoteVersion.empty() || result.outcome == UpdateOutcome::UpToDate ||
        result.outcome == UpdateOutcome::NewerVersion)
        json.field("remoteVersion", result.remoteVersion);
    if (result.outcome == UpdateOutcome::NewerVersion)
        json.field("supportPage", config->supportPageUrl());
    if (!result.reason.empty()) json.field("reason", result.reason);
    json.field("elapsedMs", elapsedMs);  // how long the check would hold the window's start
    json.endObject();
}

void printText(const UpdateCheckResult& result, const std::optional<UpdateConfig>& config,
               const Settings& settings, CliContext& context) {
    std::int64_t last = 0;
    switch (result.outcome) {
    case UpdateOutcome::NotConfigured:
        context.err << "No update server configured: " << kUpdateConfigFileName
                    << " beside the program names no [update] server.\n";
        break;
    case UpdateOutcome::NotDue:
        settings.loadLastUpdateTime(last);
        context.out << "Not due: the last check was at " << utcText(last)
                    << "; --force checks now.\n";
        break;
    case UpdateOutcome::NoAnswer:
        context.err << "The server could not be asked (" << config->versionListUrl()
                    << "): " << result.reason << '\n';
        break;
    case UpdateOutcome::Failed:
        context.err << "The check failed (" << config->versionListUrl() << "): " << result.reason
                    << '\n';
        break;
    case UpdateOutcome::UpToDate:
        context.out << "Up to date: the server offers \"" << result.remoteVersion
                    << "\", this is " << kVersionTag << ".\n";
        break;
    case UpdateOutcome::NewerVersion:
        context.out << "Newer version: \"" << result.remoteVersion << "\" (this is "
                    << kVersionTag << "); see " << config->supportPageUrl() << '\n';
        break;
    }
}

int checkForUpdate(CliContext& context, bool force) {
    std::optional<UpdateConfig> config = readUpdateConfig(programDirectory());
    Settings settings;
    std::unique_ptr<HttpClient> http = makeHttpClient(loadString(kStrAppName));
    // No question and no browser: a terminal only reports what it found.
    auto start = std::chrono::steady_clock::now();
    UpdateCheckResult result =
        runUpdateCheck(config, {settings, *http, currentUnixTime(), force, {}, {}});
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (context.json) {
        printJson(result, config, elapsed.count(), context.out);
    } else {
        printText(result, config, settings, context);
    }
    // A script that calls the check learns from the exit code whether it came to a result;
    // a refusal by the server is as much a failure as no server at all.
    bool concluded = result.outcome == UpdateOutcome::NotDue ||
                     result.outcome == UpdateOutcome::UpToDate ||
                     result.outcome == UpdateOutcome::NewerVersion;
    return concluded ? kExitDone : kExitFailed;
}

}  // namespace

void registerUpdateCheckCommand(CLI::App& app, CliContext& context) {
    auto force = std::make_shared<bool>(false);
    CLI::App* command = addCommand(
        app, context, "update-check",
        "Ask the update server of zidavuvorud.ini (beside the program) for a newer version, as "
        "the window does once a week at start-up",
        [&context, force] { return checkForUpdate(context, *force); });
    command->add_flag("--force", *force, "Check even when the last check is under 7 days old");
}

}  // namespace zq::cli
