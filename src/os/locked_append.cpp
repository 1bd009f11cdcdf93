#include "os/locked_append.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

#include "os/locked_file.h"
#include "support/text.h"

namespace zq {

namespace {

// How often a busy lock is tried again. Locks over a network share cannot be waited for with a
// time limit on every system, so the wait is a poll.
constexpr std::chrono::milliseconds kLockPoll{20};
// The tail is read backwards in pieces of this size until a whole line is in it.
constexpr std::size_t kTailPiece = 4096;
// A journal line is about a kilobyte; a "line" longer than this is not one we wrote, and
// chaining to its start would mean reading the whole file.
constexpr std::uint64_t kMaxLastLine = 1024 * 1024;

std::string waitForLock(LockedFile& file, std::chrono::milliseconds lockWait) {
    const auto deadline = std::chrono::steady_clock::now() + lockWait;
    std::string error;
    for (;;) {
        switch (file.tryLock(error)) {
            case LockedFile::Lock::Taken:
                return {};
            case LockedFile::Lock::Failed:
                return "cannot lock the file: " + error;
            case LockedFile::Lock::Busy:
                break;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return "another program has held the file's lock for more than " +
                   std::to_string(lockWait.count() / 1000.0).substr(0, 4) + " s";
        std::this_thread::sleep_for(kLockPoll);
    }
}

// The last line that ends with a line end, without it, and whether the file ends in the
// middle of a line.
std::string readLastLine(LockedFile& file, std::uint64_t size, std::optional<std::string>& line,
                         bool& incomplete) {
    line.reset();
    incomplete = false;
    if (size == 0) return {};
    std::vector<char> tail;
    std::uint64_t start = size;
    // The line end that closes the last complete line.
    std::uint64_t closing = UINT64_MAX;
    auto lineUpTo = [&](std::uint64_t from) {
        line.emplace(tail.begin() + static_cast<std::ptrdiff_t>(from - start),
                     tail.begin() + static_cast<std::ptrdiff_t>(closing - start));
    };
    for (;;) {
        const std::size_t piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(kTailPiece, start));
        start -= piece;
        std::vector<char> more(piece);
        if (std::string error = file.readAt(start, more.data(), piece); !error.empty())
            return "cannot read the file: " + error;
        tail.insert(tail.begin(), more.begin(), more.end());
        if (start + piece == size) incomplete = tail.back() != '\n';
        for (std::uint64_t i = start + piece; i-- > start;) {
            if (tail[static_cast<std::size_t>(i - start)] != '\n') continue;
            if (closing == UINT64_MAX) {
                closing = i;
            } else {
                lineUpTo(i + 1);
                return {};
            }
        }
        if (start == 0) {
            // No complete line at all: the whole file is one line cut short.
            if (closing != UINT64_MAX) lineUpTo(0);
            return {};
        }
        if (size - start > kMaxLastLine) return "the file's last line is too long";
    }
}

}  // namespace

std::string appendLockedLine(const std::filesystem::path& path,
                             const std::function<std::string(std::optional<std::string_view> lastLine)>& makeLine,
                             std::chrono::milliseconds lockWait) {
    const std::string where = toUtf8(path.wstring());
    std::error_code created;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), created);
    if (created)
        return "cannot create the folder " + toUtf8(path.parent_path().wstring()) + ": " +
               created.message();

    LockedFile file;
    if (std::string error = file.open(path); !error.empty())
        return "cannot open " + where + ": " + error;
    if (std::string error = waitForLock(file, lockWait); !error.empty()) return where + ": " + error;

    std::uint64_t size = 0;
    std::optional<std::string> last;
    bool incomplete = false;
    std::string error = file.size(size);
    if (error.empty()) error = readLastLine(file, size, last, incomplete);
    if (!error.empty()) return where + ": " + error;

    std::string bytes = incomplete ? "\n" : "";
    bytes += last ? makeLine(std::string_view(*last)) : makeLine(std::nullopt);
    bytes += '\n';
    error = file.append(bytes);
    if (error.empty()) error = file.flush();
    if (!error.empty()) {
        // Whatever part of the line reached the file would read as a torn record.
        file.truncate(size);
        file.flush();
        return "cannot write " + where + ": " + error;
    }
    return {};
}

AppendLockHolder::AppendLockHolder(const std::filesystem::path& path)
    : file_(std::make_unique<LockedFile>()) {
    std::string error;
    held_ = file_->open(path).empty() && file_->tryLock(error) == LockedFile::Lock::Taken;
}

AppendLockHolder::~AppendLockHolder() = default;

}  // namespace zq
