// The stored-settings file reader on arbitrary file contents: the file is written where the
// program keeps it (under a private XDG_CONFIG_HOME) and read back as the program reads it;
// whatever is in it, a value comes back with its size or not at all.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/memory_line.h"
#include "gui/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string file = [] {
        // Memory-backed when there is one: a file is written and read back for every input.
        char folder[] = "/dev/shm/zq-fuzz-settings-XXXXXX";
        char fallback[] = "/tmp/zq-fuzz-settings-XXXXXX";
        const char* made = ::mkdtemp(folder);
        if (made == nullptr) made = ::mkdtemp(fallback);
        zq::fuzz::check(made != nullptr, "a private folder");
        ::setenv("XDG_CONFIG_HOME", made, 1);
        const std::string company = std::string(made) + "/" + zq::Settings::kCompany;
        zq::fuzz::check(::mkdir(company.c_str(), 0700) == 0, "the company folder");
        return company + "/" + zq::Settings::kProduct;
    }();
    std::FILE* out = std::fopen(file.c_str(), "wb");
    zq::fuzz::check(out != nullptr, "the settings file can be written");
    std::fwrite(data, 1, size, out);
    std::fclose(out);
    const zq::Settings settings;
    settings.loadPortIndex();
    std::int64_t seconds = 0;
    settings.loadLastUpdateTime(seconds);
    return 0;
}
