#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "support/byte_source.h"

namespace zq {

// Read-only file operations over the C runtime's buffered streams, opened in binary mode.
// Failures of status queries and seeks are contract failures with the operation's label.
// Paths are wide strings; on POSIX they become UTF-8 at the system call.
class OFileSys {
public:
    // nullptr when the file cannot be opened; with mustExist that is also an EXPLICIT failure.
    // Only regular files open: a directory, a device or a FIFO in an image's or the
    // catalogue's place is refused before a byte of it is read, and why goes into refusal.
    static std::FILE* openForRd(const std::wstring& path, bool mustExist);
    static std::FILE* openForRd(const std::wstring& path, bool mustExist, std::string& refusal);
    static void close(std::FILE* file);
    // True when the path's status can be read (a directory too).
    static bool exists(const std::wstring& path);
    // Files beyond 4 GiB - 1 cannot be represented and fail like a failed status query (0).
    static std::uint32_t getFileSize(std::FILE* file);
    // The count actually read (fewer than n only when the file ended early or failed).
    static std::uint32_t read(std::FILE* file, void* destination, std::uint32_t n);
    static void seekBw(std::FILE* file, std::uint32_t n);
    static void seekFw(std::FILE* file, std::uint32_t n);
    static void seekStart(std::FILE* file, std::uint32_t n);
    static void seekEnd(std::FILE* file, std::uint32_t n);
};

// The operator's "cannot open" text with the refusal of openForRd after it, when there is one.
inline std::string withRefusal(std::string message, const std::string& refusal) {
    return refusal.empty() ? message : message + " (" + refusal + ")";
}

// A ByteSource over an open file. The file is not owned: the caller closes it after the
// source is gone. The position is kept here and mirrored into the file with each seek.
class FileSource : public ByteSource {
public:
    explicit FileSource(std::FILE* file);

    std::uint32_t remaining() const override;
    bool read(void* destination, std::uint32_t n) override;
    void skipForward(std::uint32_t n) override;
    void skipBackward(std::uint32_t n) override;
    void seekFromStart(std::uint32_t position) override;
    void seekFromEnd(std::uint32_t n) override;
    std::uint32_t position() const override { return position_; }
    // Asked of the file each time, so a file that changes size is noticed.
    std::uint32_t size() const override;

private:
    std::FILE* file_;
    std::uint32_t position_ = 0;
};

namespace fs_detail {
// Platform pieces (file_sys_posix.cpp / file_sys_win32.cpp).
// nullptr with refusal set to "adresář", "zařízení", "roura (FIFO)" or "není obyčejný soubor"
// when the path opened but is not a regular file; nullptr with refusal empty when it did not open.
std::FILE* openBinaryForRead(const std::wstring& path, std::string& refusal);
bool statPath(const std::wstring& path);
bool fileSize(std::FILE* file, std::uint64_t& size);
bool seek(std::FILE* file, std::int64_t offset, int origin);
}  // namespace fs_detail

}  // namespace zq
