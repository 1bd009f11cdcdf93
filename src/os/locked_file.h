#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace zq {

// The platform's part of appendLockedLine: one open file with an exclusive lock that other
// programs see. Texts returned are empty on success, else the system's reason.
class LockedFile {
public:
    LockedFile() = default;
    // Lets go of the lock and closes the file.
    ~LockedFile();
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    // Opens the file for reading and writing, creating it when missing.
    std::string open(const std::filesystem::path& path);
    enum class Lock { Taken, Busy, Failed };
    // One attempt at the exclusive lock, without waiting; error says why on Failed.
    Lock tryLock(std::string& error);
    std::string size(std::uint64_t& size);
    // Exactly length bytes at offset.
    std::string readAt(std::uint64_t offset, char* buffer, std::size_t length);
    // At the end of the file; all of it, or an error.
    std::string append(const std::string& bytes);
    // Through the system's caches onto the disk.
    std::string flush();
    void truncate(std::uint64_t size);

private:
    std::intptr_t handle_ = -1;
    bool locked_ = false;
};

}  // namespace zq
