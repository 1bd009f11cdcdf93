#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zq::testing {

// A fresh directory under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes a file (binary, exactly these bytes) and returns its path.
    std::filesystem::path write(const std::string& name, std::string_view bytes) const;

    // The path as the program's file functions take it (wide; UTF-8 on POSIX underneath).
    std::wstring wide(const std::string& name) const;

private:
    std::filesystem::path path_;
};

// A path as a wide string the way the program's file functions take it.
std::wstring toWide(const std::filesystem::path& path);

}  // namespace zq::testing
