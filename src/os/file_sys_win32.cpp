#include <io.h>
#include <windows.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>

#include "os/file_sys.h"

namespace zq::fs_detail {

std::FILE* openBinaryForRead(const std::wstring& path, std::string& refusal) {
    // A directory does not open here at all; a device name (NUL, CON, COM1) does, and a named
    // pipe would hand over whatever its writer sends: only a file on a disk is taken.
    std::FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) {
        struct _stat64 status {};
        if (_wstat64(path.c_str(), &status) == 0 && (status.st_mode & _S_IFDIR) != 0)
            refusal = "adresář";
        return nullptr;
    }
    const DWORD type = GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
    if (type != FILE_TYPE_DISK) {
        refusal = type == FILE_TYPE_CHAR ? "zařízení"
                  : type == FILE_TYPE_PIPE ? "roura (FIFO)"
                                           : "není obyčejný soubor";
        std::fclose(file);
        return nullptr;
    }
    return file;
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
