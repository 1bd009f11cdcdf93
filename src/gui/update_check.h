#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zq {

class HttpClient;
class Settings;

// The installation's configuration of the update check, in the program's own folder:
//     [update]
//     server = HOST[:PORT]
//     support = HOST
inline constexpr const char* kUpdateConfigFileName = "zidavuvorud.ini";
inline constexpr const char* kVersionListPath = "/admin/files/Soubory/version-list-QS.xml";
inline constexpr const char* kSupportPagePath =
    "/produkty/systemy-pro-kolejovou-dopravu-1/podpora/";
inline constexpr const char* kUpdateQuestion =
    "Je k dispozici nová verze Dodireveraza VE. Přejete si ji stahnout?";
// Seven days; a check exactly this long after the last one is not yet due.
inline constexpr std::int64_t kUpdateCheckInterval = 604800;

struct UpdateConfig {
    std::string serverHost;
    unsigned serverPort = 80;
    std::string supportHost;  // the server's host when the file names none

    std::string versionListUrl() const;
    std::string supportPageUrl() const;
};

// nullopt when the text is malformed or names no server: the check is then skipped.
std::optional<UpdateConfig> parseUpdateConfig(std::string_view text);
// Reads zidavuvorud.ini in directory; nullopt when there is none or it does not parse.
std::optional<UpdateConfig> readUpdateConfig(const std::filesystem::path& directory);

// [burn] of the same file: `verify = yes|no`. No verify when the file, the section or the key
// is missing, or the file does not parse.
struct BurnConfig {
    bool verify = false;
};
BurnConfig parseBurnConfig(std::string_view text);
BurnConfig readBurnConfig(const std::filesystem::path& directory);

// [journal] of the same file: `path = FILE`, another place for the programming journal (a
// file on the workshop's share). Empty when the file, the section or the key is missing, or
// the file does not parse.
std::string parseJournalConfig(std::string_view text);
std::string readJournalConfig(const std::filesystem::path& directory);

enum class UpdateOutcome {
    NotConfigured,  // no server configured: nothing went on the network
    NotDue,         // the last check is at most seven days old
    NoAnswer,       // the server could not be asked
    Failed,         // the server answered, but not with a usable version list
    UpToDate,
    NewerVersion,
};

struct UpdateCheckResult {
    UpdateOutcome outcome = UpdateOutcome::NotConfigured;
    std::string remoteVersion;  // UTF-8, as the list has it
    int status = 0;             // HTTP status when the server answered
    std::string reason;         // why NoAnswer or Failed
    bool asked = false;         // the operator was asked about the newer version
    bool pageOpened = false;    // ... and answered Yes
};

struct UpdateCheckContext {
    const Settings& settings;
    HttpClient& http;
    std::int64_t now = 0;  // seconds since 1970-01-01 00:00 UTC
    bool force = false;    // ignore the seven-day rule
    // The question about a newer version; true for Yes. Empty: nobody is asked.
    std::function<bool(const std::string& question)> askYesNo;
    std::function<void(const std::string& url)> openWebPage;
};

// The weekly check: asks the server for the version list and offers the support page when the
// list names a version newer than this program's. The time is stored after every exchange that
// yielded a version, whatever the answer; on any failure nothing is stored or shown.
UpdateCheckResult runUpdateCheck(const std::optional<UpdateConfig>& config,
                                 const UpdateCheckContext& context);

// The text of the version element, or nullopt when the list has none.
std::optional<std::string> findRemoteVersion(std::string_view list);

// Seconds since 1970-01-01 00:00 UTC.
std::int64_t currentUnixTime();

}  // namespace zq
