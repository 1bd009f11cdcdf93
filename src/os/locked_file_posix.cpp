#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "os/locked_file.h"
#include "support/vyjimka.h"

namespace zq {

namespace {

std::string lastError() {
    return systemErrorText(static_cast<std::uint32_t>(errno));
}

// Open-file-description locks: unlike classic record locks they belong to this open file and
// not to the process, so another thread's close of the same file cannot drop them, and a
// second open in the same process is refused like another program. They conflict with
// classic fcntl locks, which is what other programs and NFS clients take.
flock wholeFile(short type) {
    flock lock{};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return lock;
}

}  // namespace

LockedFile::~LockedFile() {
    if (handle_ < 0) return;
    const int fd = static_cast<int>(handle_);
    if (locked_) {
        flock unlock = wholeFile(F_UNLCK);
        ::fcntl(fd, F_OFD_SETLK, &unlock);
    }
    ::close(fd);
}

std::string LockedFile::open(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return lastError();
    handle_ = fd;
    return {};
}

LockedFile::Lock LockedFile::tryLock(std::string& error) {
    flock lock = wholeFile(F_WRLCK);
    if (::fcntl(static_cast<int>(handle_), F_OFD_SETLK, &lock) == 0) {
        locked_ = true;
        return Lock::Taken;
    }
    if (errno == EAGAIN || errno == EACCES || errno == EINTR) return Lock::Busy;
    error = lastError();
    return Lock::Failed;
}

std::string LockedFile::size(std::uint64_t& size) {
    struct stat info {};
    if (::fstat(static_cast<int>(handle_), &info) != 0) return lastError();
    size = static_cast<std::uint64_t>(info.st_size);
    return {};
}

std::string LockedFile::readAt(std::uint64_t offset, char* buffer, std::size_t length) {
    while (length != 0) {
        const ssize_t got =
            ::pread(static_cast<int>(handle_), buffer, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return lastError();
        if (got == 0) return "the file ended early";
        buffer += got;
        offset += static_cast<std::uint64_t>(got);
        length -= static_cast<std::size_t>(got);
    }
    return {};
}

std::string LockedFile::append(const std::string& bytes) {
    const char* next = bytes.data();
    std::size_t left = bytes.size();
    while (left != 0) {
        const ssize_t put = ::write(static_cast<int>(handle_), next, left);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return lastError();
        next += put;
        left -= static_cast<std::size_t>(put);
    }
    return {};
}

std::string LockedFile::flush() {
    return ::fsync(static_cast<int>(handle_)) == 0 ? std::string() : lastError();
}

void LockedFile::truncate(std::uint64_t size) {
    if (::ftruncate(static_cast<int>(handle_), static_cast<off_t>(size)) != 0) {
        // The torn line stays; the next append starts a line of its own after it.
    }
}

}  // namespace zq
