#include <sys/stat.h>

#include "os/file_sys.h"
#include "support/text.h"

namespace zq::fs_detail {

std::FILE* openBinaryForRead(const std::wstring& path) {
    return std::fopen(toUtf8(path).c_str(), "rb");
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
