#include "gui/app_startup.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "gui/sw_catalogue.h"
#include "os/file_sys.h"
#include "support/string_table.h"
#include "support/text.h"

namespace zq {

namespace {

constexpr unsigned kCannotOpenFile = 122;
constexpr unsigned kBadFileFormat = 136;
constexpr unsigned kNoDirectory = 137;

}  // namespace

bool readStartupCatalogue(SwCatalogue& catalogue, std::string& message) {
    std::error_code error;
    std::filesystem::current_path(std::filesystem::path(fromUtf8(kBinariesDirectory)), error);
    if (error) {
        message = formatString(kNoDirectory, kBinariesDirectory);
        return false;
    }
    std::string refusal;
    std::FILE* file = OFileSys::openForRd(fromUtf8(kCatalogueFileName), false, refusal);
    if (file == nullptr) {
        message = withRefusal(formatString(kCannotOpenFile, kCatalogueFileName), refusal);
        return false;
    }
    bool ok = false;
    {
        FileSource source(file);
        ok = catalogue.read(source);
    }
    OFileSys::close(file);
    if (!ok)
        message = formatString(kBadFileFormat, kCatalogueFileName, catalogue.errorText().c_str());
    return ok;
}

}  // namespace zq
