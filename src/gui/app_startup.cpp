#include "gui/app_startup.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "gui/sw_catalogue.h"
#include "os/file_sys.h"
#include "support/string_table.h"
#include "support/text.h"

namespace zq {

bool readStartupCatalogue(SwCatalogue& catalogue, std::string& message) {
    std::error_code error;
    std::filesystem::current_path(std::filesystem::path(fromUtf8(kBinariesDirectory)), error);
    if (error) {
        message = formatString(kStrNoDirectory, kBinariesDirectory);
        return false;
    }
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
