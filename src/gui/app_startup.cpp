#include "gui/app_startup.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "gui/sw_catalogue.h"
#include "os/file_sys.h"
#include "support/string_table.h"
#include "support/text.h"

namespace zq {

namespace {

namespace fs = std::filesystem;

// Enters RT19_bin below the current directory, else beside the program. False, with every
// place tried named in `message`, when neither exists.
bool enterBinariesDirectory(const fs::path& programDirectory, std::string& message) {
    std::error_code error;
    const fs::path name(fromUtf8(kBinariesDirectory));
    const fs::path here = fs::current_path(error);
    std::vector<fs::path> places{here / name};
    if (!programDirectory.empty() && !fs::equivalent(here, programDirectory, error))
        places.push_back(programDirectory / name);
    std::string tried;
    for (const fs::path& place : places) {
        fs::current_path(place, error);
        if (!error) return true;
        tried += (tried.empty() ? "" : " ani ") + toUtf8(place.lexically_normal().wstring());
    }
    message = formatString(kStrNoDirectory, tried.c_str());
    return false;
}

}  // namespace

bool readStartupCatalogue(SwCatalogue& catalogue, std::string& message,
                          const std::filesystem::path& programDirectory) {
    if (!enterBinariesDirectory(programDirectory, message)) return false;
    std::string refusal;
    std::FILE* file = OFileSys::openForRd(fromUtf8(kCatalogueFileName), false, refusal);
    if (file == nullptr) {
        message = withRefusal(formatString(kStrCannotOpenFile, kCatalogueFileName), refusal);
        return false;
    }
    bool ok = false;
    {
        FileSource source(file);
        ok = catalogue.read(source);
    }
    OFileSys::close(file);
    if (!ok)
        message =
            formatString(kStrBadFileFormat, kCatalogueFileName, catalogue.errorText().c_str());
    return ok;
}

}  // namespace zq
