#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>

#include "os/file_sys.h"

namespace zq::fs_detail {

std::FILE* openBinaryForRead(const std::wstring& path) {
    return _wfopen(path.c_str(), L"rb");
}

bool statPath(const std::wstring& path) {
    struct _stat64 status {};
    return _wstat64(path.c_str(), &status) == 0;
}

bool fileSize(std::FILE* file, std::uint64_t& size) {
    struct _stat64 status {};
    if (file == nullptr || _fstat64(_fileno(file), &status) != 0 || status.st_size < 0)
        return false;
    size = static_cast<std::uint64_t>(status.st_size);
    return true;
}

// fseek takes a long, which is 32 bits on Windows.
bool seek(std::FILE* file, std::int64_t offset, int origin) {
    return file != nullptr && _fseeki64(file, offset, origin) == 0;
}

}  // namespace zq::fs_detail
