#include "gui/update_check.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <system_error>

#include "gui/ansi_text.h"
#include "gui/app_version.h"
#include "gui/settings.h"
#include "os/http_client.h"
#include "support/text.h"

namespace zq {

namespace {

constexpr std::string_view kOpeningTag = "<Redivuvizer_ER>";
constexpr std::string_view kClosingTag = "</Redivuvizer_ER>";
// A few lines; anything near this size is not the file the installer wrote.
constexpr std::uintmax_t kMaxConfigSize = 64 * 1024;

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// A DNS name or an IPv4 address: it goes into a URL unquoted, so nothing else may pass.
bool isHostName(std::string_view host) {
    if (host.empty() || host.size() > 253 || host.front() == '-' || host.front() == '.')
        return false;
    for (char c : host) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '.';
        if (!ok) return false;
    }
    return true;
}

bool parsePort(std::string_view text, unsigned& port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    port = value;
    return true;
}

bool parseServer(std::string_view value, UpdateConfig& config) {
    std::size_t colon = value.find(':');
    std::string_view host = value.substr(0, colon);
    if (!isHostName(host)) return false;
    if (colon != std::string_view::npos && !parsePort(value.substr(colon + 1), config.serverPort))
        return false;
    config.serverHost = std::string(host);
    return true;
}

}  // namespace

std::string UpdateConfig::versionListUrl() const {
    return "http://" + serverHost + ":" + std::to_string(serverPort) + kVersionListPath;
}

std::string UpdateConfig::supportPageUrl() const {
    return "http://" + (supportHost.empty() ? serverHost : supportHost) + kSupportPagePath;
}

namespace {

// Every `key = value` of the text with its section, in order; false when a line is neither a
// section, a setting, a comment nor blank (the whole file then counts as missing).
template <typename OnSetting>
bool forEachSetting(std::string_view text, OnSetting onSetting) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // Notepad's UTF-8 mark
    std::string_view section;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            if (line.back() != ']') return false;
            section = trim(line.substr(1, line.size() - 2));
            continue;
        }
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || equals == 0) return false;
        if (!onSetting(section, trim(line.substr(0, equals)), trim(line.substr(equals + 1))))
            return false;
    }
    return true;
}

std::optional<std::string> readConfigText(const std::filesystem::path& directory) {
    std::filesystem::path path = directory / kUpdateConfigFileName;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error) ||
        std::filesystem::file_size(path, error) > kMaxConfigSize || error)
        return std::nullopt;
    std::ifstream file(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad() || text.size() > kMaxConfigSize) return std::nullopt;
    return text;
}

}  // namespace

std::optional<UpdateConfig> parseUpdateConfig(std::string_view text) {
    UpdateConfig config;
    bool haveServer = false;
    bool haveSupport = false;
    const bool wellFormed = forEachSetting(text, [&](auto section, auto key, auto value) {
        // Other sections belong to other parts of the program, or to other tools.
        if (!equalsIgnoringCase(section, "update")) return true;
        if (equalsIgnoringCase(key, "server")) {
            if (haveServer || !parseServer(value, config)) return false;
            haveServer = true;
        } else if (equalsIgnoringCase(key, "support")) {
            if (haveSupport || !isHostName(value)) return false;
            config.supportHost = std::string(value);
            haveSupport = true;
        }
        return true;
    });
    if (!wellFormed || !haveServer) return std::nullopt;
    return config;
}

std::optional<UpdateConfig> readUpdateConfig(const std::filesystem::path& directory) {
    std::optional<std::string> text = readConfigText(directory);
    return text ? parseUpdateConfig(*text) : std::nullopt;
}

BurnConfig parseBurnConfig(std::string_view text) {
    BurnConfig config;
    bool haveVerify = false;
    const bool wellFormed = forEachSetting(text, [&](auto section, auto key, auto value) {
        if (!equalsIgnoringCase(section, "burn") || !equalsIgnoringCase(key, "verify")) return true;
        const bool yes = equalsIgnoringCase(value, "yes");
        if (haveVerify || (!yes && !equalsIgnoringCase(value, "no"))) return false;
        config.verify = yes;
        haveVerify = true;
        return true;
    });
    return wellFormed ? config : BurnConfig{};
}

BurnConfig readBurnConfig(const std::filesystem::path& directory) {
    std::optional<std::string> text = readConfigText(directory);
    return text ? parseBurnConfig(*text) : BurnConfig{};
}

std::string parseJournalConfig(std::string_view text) {
    std::optional<std::string> path;
    const bool wellFormed = forEachSetting(text, [&](auto section, auto key, auto value) {
        if (!equalsIgnoringCase(section, "journal") || !equalsIgnoringCase(key, "path"))
            return true;
        if (path || value.empty()) return false;
        path = std::string(value);
        return true;
    });
    return wellFormed && path ? *path : std::string();
}

std::string readJournalConfig(const std::filesystem::path& directory) {
    std::optional<std::string> text = readConfigText(directory);
    return text ? parseJournalConfig(*text) : std::string();
}

std::optional<std::string> findRemoteVersion(std::string_view list) {
    // The list is read as a C string: a zero byte ends it.
    list = list.substr(0, list.find('\0'));
    std::size_t open = list.find(kOpeningTag);
    std::size_t close = list.find(kClosingTag);
    if (open == std::string_view::npos || close == std::string_view::npos ||
        close < open + kOpeningTag.size())
        return std::nullopt;
    std::size_t start = open + kOpeningTag.size();
    return ansiToUtf8(list.substr(start, close - start));
}

std::int64_t currentUnixTime() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

UpdateCheckResult runUpdateCheck(const std::optional<UpdateConfig>& config,
                                 const UpdateCheckContext& context) {
    UpdateCheckResult result;
    if (!config) return result;
    std::int64_t last = 0;
    if (!context.force && context.settings.loadLastUpdateTime(last) &&
        context.now - last <= kUpdateCheckInterval) {
        result.outcome = UpdateOutcome::NotDue;
        return result;
    }

    HttpResponse response =
        context.http.get(config->serverHost, config->serverPort, kVersionListPath);
    result.status = response.status;
    if (!response.answered) {
        result.outcome = UpdateOutcome::NoAnswer;
        result.reason = response.error;
        return result;
    }
    result.outcome = UpdateOutcome::Failed;
    if (response.status != 200) {
        result.reason = "HTTP status " + std::to_string(response.status);
        return result;
    }
    if (!response.error.empty()) {
        result.reason = response.error;
        return result;
    }
    std::optional<std::string> remote = findRemoteVersion(response.body);
    if (!remote) {
        result.reason = "the version list names no version";
        return result;
    }

    result.remoteVersion = *remote;
    // Ordinal: the first differing character decides, and a longer text with the same start
    // is greater. UTF-8 bytes compare in the order of the characters they encode.
    if (result.remoteVersion > std::string_view(kVersionTag)) {
        result.outcome = UpdateOutcome::NewerVersion;
        if (context.askYesNo) {
            result.asked = true;
            if (context.askYesNo(kUpdateQuestion) && context.openWebPage) {
                context.openWebPage(config->supportPageUrl());
                result.pageOpened = true;
            }
        }
    } else {
        result.outcome = UpdateOutcome::UpToDate;
    }
    context.settings.storeLastUpdateTime(context.now);
    return result;
}

}  // namespace zq
