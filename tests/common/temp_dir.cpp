#include "common/temp_dir.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <stdexcept>
#include <type_traits>

#include "support/text.h"

namespace zq::testing {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    // Test programs run in parallel under ctest; the random part keeps their folders apart.
    auto stamp =
        std::chrono::steady_clock::now().time_since_epoch().count() ^ std::random_device{}();
    for (int attempt = 0; attempt < 100; ++attempt) {
        path_ = std::filesystem::temp_directory_path() /
                ("zq-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        if (std::filesystem::create_directory(path_)) return;
    }
    throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::write(const std::string& name, std::string_view bytes) const {
    std::filesystem::path file =
        path_ / std::filesystem::path(std::u8string(name.begin(), name.end()));
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
}

std::wstring TempDir::wide(const std::string& name) const {
    return toWide(path_ / std::filesystem::path(std::u8string(name.begin(), name.end())));
}

// std::filesystem converts through the C locale on POSIX, which cannot hold Czech names.
std::wstring toWide(const std::filesystem::path& path) {
    if constexpr (std::is_same_v<std::filesystem::path::value_type, wchar_t>)
        return path.wstring();
    else
        return fromUtf8(path.string());
}

}  // namespace zq::testing
