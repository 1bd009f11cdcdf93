#include <windows.h>

#include "os/locked_file.h"
#include "support/vyjimka.h"

namespace zq {

namespace {

std::string lastError() {
    return systemErrorText(GetLastError());
}

HANDLE handleOf(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// Byte-range locks on Windows are mandatory: a lock over the records would stop every other
// program from even reading the journal. The lock is taken on one byte far beyond any end of
// file instead, which only appends take.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kLockOffsetLow = 0;

OVERLAPPED lockPosition() {
    OVERLAPPED position{};
    position.Offset = kLockOffsetLow;
    position.OffsetHigh = kLockOffsetHigh;
    return position;
}

}  // namespace

LockedFile::~LockedFile() {
    if (handle_ == -1) return;
    if (locked_) {
        OVERLAPPED position = lockPosition();
        UnlockFileEx(handleOf(handle_), 0, 1, 0, &position);
    }
    CloseHandle(handleOf(handle_));
}

std::string LockedFile::open(const std::filesystem::path& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return lastError();
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return {};
}

LockedFile::Lock LockedFile::tryLock(std::string& error) {
    OVERLAPPED position = lockPosition();
    if (LockFileEx(handleOf(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &position)) {
        locked_ = true;
        return Lock::Taken;
    }
    const DWORD code = GetLastError();
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return Lock::Busy;
    error = systemErrorText(code);
    return Lock::Failed;
}

std::string LockedFile::size(std::uint64_t& size) {
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(handleOf(handle_), &length)) return lastError();
    size = static_cast<std::uint64_t>(length.QuadPart);
    return {};
}

std::string LockedFile::readAt(std::uint64_t offset, char* buffer, std::size_t length) {
    while (length != 0) {
        OVERLAPPED position{};
        position.Offset = static_cast<DWORD>(offset);
        position.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD want = length > 0x10000000 ? 0x10000000 : static_cast<DWORD>(length);
        DWORD got = 0;
        if (!ReadFile(handleOf(handle_), buffer, want, &got, &position)) return lastError();
        if (got == 0) return "the file ended early";
        buffer += got;
        offset += got;
        length -= got;
    }
    return {};
}

std::string LockedFile::append(const std::string& bytes) {
    // Under the lock nobody else appends, so the end found here is where the line goes.
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(handleOf(handle_), LARGE_INTEGER{}, &end, FILE_END)) return lastError();
    const char* next = bytes.data();
    std::size_t left = bytes.size();
    while (left != 0) {
        const DWORD want = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
        DWORD put = 0;
        if (!WriteFile(handleOf(handle_), next, want, &put, nullptr)) return lastError();
        if (put == 0) return systemErrorText(ERROR_DISK_FULL);
        next += put;
        left -= put;
    }
    return {};
}

std::string LockedFile::flush() {
    return FlushFileBuffers(handleOf(handle_)) ? std::string() : lastError();
}

void LockedFile::truncate(std::uint64_t size) {
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    // On failure the torn line stays; the next append starts a line of its own after it.
    if (SetFilePointerEx(handleOf(handle_), end, nullptr, FILE_BEGIN))
        SetEndOfFile(handleOf(handle_));
}

}  // namespace zq
