#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zq {

// How long an append waits for another program's lock before it gives up.
inline constexpr std::chrono::milliseconds kAppendLockWait{10000};

// Appends one line to a text file that other programs append to as well, on this machine or
// through a network share, so that no line is ever torn or interleaved with another:
// - the parent folders are created, the file when it is missing;
// - an exclusive lock is taken on the file (LockFileEx / fcntl), waiting at most lockWait;
// - makeLine gets the file's last complete line (without its line end; none when the file has
//   no complete line) and returns the line to append, which must hold no line end;
// - the line goes out in one write, behind a line end of its own when the file's last line is
//   incomplete (a write cut short by a power loss), and is flushed to the disk before the lock
//   is let go. A write that fails part-way is taken back.
// Returns an empty text when the line is on the disk, else why not.
std::string appendLockedLine(const std::filesystem::path& path,
                             const std::function<std::string(std::optional<std::string_view> lastLine)>& makeLine,
                             std::chrono::milliseconds lockWait = kAppendLockWait);

// The file's lock, held as long as the object lives: what an append waits for. Tests and tools
// hold it to see that appends wait and give up; false from held() when it could not be taken.
class AppendLockHolder {
public:
    explicit AppendLockHolder(const std::filesystem::path& path);
    ~AppendLockHolder();
    AppendLockHolder(const AppendLockHolder&) = delete;
    AppendLockHolder& operator=(const AppendLockHolder&) = delete;
    bool held() const { return held_; }

private:
    std::unique_ptr<class LockedFile> file_;
    bool held_ = false;
};

}  // namespace zq
