#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "gui/journal.h"
#include "gui/settings.h"

// The file mirrors the registry key value for value, one a line, "name=type:bytes in hex":
//     port=binary:03
//     lastUpdateTime=binary:805b3e6700000000
// so that a value can be missing, of another type or of another size exactly as in the
// registry, and reads as "no value" in each of those cases.

namespace zq {

namespace {

constexpr const char* kPortValue = "port";
constexpr const char* kLastUpdateValue = "lastUpdateTime";
constexpr const char* kBinaryType = "binary";
constexpr const char* kHeader = "# Zidavuvorud QS stored settings: name=type:bytes in hex\n";
// Two values take some fifty bytes; anything near this size is not a file we wrote.
constexpr off_t kMaxFileSize = 64 * 1024;

struct Value {
    std::string type;
    std::vector<std::uint8_t> bytes;
};
using Values = std::map<std::string, Value>;

std::string userHome() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        const passwd* entry = getpwuid(getuid());
        home = entry != nullptr ? entry->pw_dir : nullptr;
    }
    return home != nullptr && home[0] == '/' ? std::string(home) : std::string();
}

std::string configHome() {
    // Only an absolute XDG_CONFIG_HOME counts; a relative one would move with the current
    // directory, which the program changes at start-up.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    const std::string home = userHome();
    return home.empty() ? std::string() : home + "/.config";
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool parseLine(std::string_view line, Values& values) {
    std::size_t equals = line.find('=');
    std::size_t colon = line.find(':', equals == std::string_view::npos ? 0 : equals);
    if (equals == 0 || equals == std::string_view::npos || colon == std::string_view::npos)
        return false;
    std::string name(line.substr(0, equals));
    Value value{std::string(line.substr(equals + 1, colon - equals - 1)), {}};
    std::string_view hex = line.substr(colon + 1);
    if (value.type.empty() || hex.size() % 2 != 0) return false;
    for (char c : value.type)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int high = hexDigit(hex[i]);
        int low = hexDigit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        value.bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return values.emplace(std::move(name), std::move(value)).second;
}

// A file that does not parse as a whole holds no values: half-trusting a damaged file could
// hand back a value that was never written.
std::optional<Values> parse(std::string_view text) {
    Values values;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        if (end == std::string_view::npos) return std::nullopt;  // every line we write ends
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        if (line.empty() || line.front() == '#') continue;
        if (!parseLine(line, values)) return std::nullopt;
    }
    return values;
}

std::string format(const Values& values) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text = kHeader;
    for (const auto& [name, value] : values) {
        text += name + "=" + value.type + ":";
        for (std::uint8_t b : value.bytes) {
            text += kHex[b >> 4];
            text += kHex[b & 0xF];
        }
        text += '\n';
    }
    return text;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

std::optional<Values> readValues(const std::string& path) {
    // Non-blocking, so that a FIFO put in the file's place cannot stall the start-up; it is
    // refused below like anything else that is not a regular file.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat status {};
    if (fd.get() < 0 || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size > kMaxFileSize)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > static_cast<std::size_t>(kMaxFileSize)) return std::nullopt;
    }
    return parse(text);
}

bool makeDirectories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string prefix = path.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Written beside the old file and renamed over it, so a crash or a full disk leaves either
// the old file or the new one, never a mixture.
bool writeValuesAtomically(const std::string& directory, const std::string& path,
                           const Values& values) {
    if (!makeDirectories(directory)) return false;
    std::string temporary = path + ".XXXXXX";
    Fd fd(::mkstemp(temporary.data()));
    if (fd.get() < 0) return false;
    bool ok = writeAll(fd.get(), format(values)) && ::fsync(fd.get()) == 0;
    ok = ::close(fd.release()) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself reaches the disk only with the directory.
    Fd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return true;
}

struct Place {
    std::string directory;
    std::string path;
};

std::optional<Place> placeOf(const std::string& product) {
    std::string home = configHome();
    if (home.empty() || product.empty() || product.find('/') != std::string::npos)
        return std::nullopt;
    std::string directory = home + "/" + Settings::kCompany;
    return Place{directory, directory + "/" + product};
}

std::optional<std::vector<std::uint8_t>> loadBinary(const std::string& product, const char* name,
                                                    std::size_t size) {
    auto place = placeOf(product);
    if (!place) return std::nullopt;
    auto values = readValues(place->path);
    if (!values) return std::nullopt;
    auto it = values->find(name);
    if (it == values->end() || it->second.type != kBinaryType || it->second.bytes.size() != size)
        return std::nullopt;
    return it->second.bytes;
}

bool storeBinary(const std::string& product, const char* name, std::vector<std::uint8_t> bytes) {
    auto place = placeOf(product);
    if (!place) return false;
    // A damaged file is replaced by one that holds the new value only.
    Values values = readValues(place->path).value_or(Values{});
    values[name] = Value{kBinaryType, std::move(bytes)};
    return writeValuesAtomically(place->directory, place->path, values);
}

}  // namespace

std::uint8_t Settings::loadPortIndex() const {
    auto bytes = loadBinary(product_, kPortValue, 1);
    return bytes ? (*bytes)[0] : 0;
}

void Settings::storePortIndex(std::uint8_t index) const {
    storeBinary(product_, kPortValue, {index});
}

bool Settings::loadLastUpdateTime(std::int64_t& seconds) const {
    auto bytes = loadBinary(product_, kLastUpdateValue, 8);
    if (!bytes) return false;
    std::uint64_t value = 0;
    for (std::size_t i = 8; i-- > 0;) value = (value << 8) | (*bytes)[i];
    seconds = static_cast<std::int64_t>(value);
    return true;
}

bool Settings::storeLastUpdateTime(std::int64_t seconds) const {
    std::vector<std::uint8_t> bytes(8);
    auto value = static_cast<std::uint64_t>(seconds);
    for (std::size_t i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return storeBinary(product_, kLastUpdateValue, std::move(bytes));
}

std::filesystem::path defaultJournalPath() {
    // As for the settings, only an absolute XDG_STATE_HOME counts.
    const char* xdg = std::getenv("XDG_STATE_HOME");
    std::string state = xdg != nullptr && xdg[0] == '/' ? std::string(xdg) : std::string();
    if (state.empty() && !userHome().empty()) state = userHome() + "/.local/state";
    if (state.empty()) return {};
    return std::filesystem::path(state) / Settings::kCompany / Settings::kProduct /
           kJournalFileName;
}

}  // namespace zq
