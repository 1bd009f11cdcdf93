#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/file_sys.h"
#include "support/text.h"

namespace zq::fs_detail {

std::FILE* openBinaryForRead(const std::wstring& path, std::string& refusal) {
    // Opened without blocking: a FIFO would otherwise hold the open until a writer appears.
    // The type is then taken from the open descriptor, so nothing can be swapped in between.
    const int fd = ::open(toUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return nullptr;
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        ::close(fd);
        return nullptr;
    }
    if (!S_ISREG(status.st_mode)) {
        refusal = S_ISDIR(status.st_mode)                               ? "adresář"
                  : S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode) ? "zařízení"
                  : S_ISFIFO(status.st_mode)                            ? "roura (FIFO)"
                                                                        : "není obyčejný soubor";
        ::close(fd);
        return nullptr;
    }
    // A regular file never blocks; the flag is dropped only so the stream behaves as usual.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) ::close(fd);
    return file;
}

bool statPath(const std::wstring& path) {
    struct stat status {};
    return ::stat(toUtf8(path).c_str(), &status) == 0;
}

bool fileSize(std::FILE* file, std::uint64_t& size) {
    struct stat status {};
    if (file == nullptr || ::fstat(fileno(file), &status) != 0 || status.st_size < 0) return false;
    size = static_cast<std::uint64_t>(status.st_size);
    return true;
}

bool seek(std::FILE* file, std::int64_t offset, int origin) {
    return file != nullptr && ::fseeko(file, static_cast<off_t>(offset), origin) == 0;
}

}  // namespace zq::fs_detail
