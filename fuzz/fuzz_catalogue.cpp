// The config.ini reader on arbitrary bytes: a refusal has a reason (or none for a file without
// the magic line), and what it accepts can be asked for every version, unit and side.
#include <cstdint>

#include "fuzz/image_walk.h"
#include "gui/sw_catalogue.h"
#include "gui/unit_procedure.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static zq::fuzz::AbortingFailureHandler handler;
    if (size > 0xFFFFFFFFu) return 0;
    zq::MemSource source(
        zq::MemPtr(const_cast<std::uint8_t*>(data), static_cast<std::uint32_t>(size)));
    zq::SwCatalogue catalogue;
    if (!catalogue.read(source)) return 0;
    zq::fuzz::check(catalogue.versionCount() <= zq::SwCatalogue::kMaxVersions, "versions bounded");
    zq::fuzz::check(catalogue.defaultIndex() >= 0 &&
                        static_cast<std::uint32_t>(catalogue.defaultIndex()) <
                            catalogue.versionCount(),
                    "the default is one of the versions");
    for (std::uint32_t v = 0; v < catalogue.versionCount(); ++v) {
        catalogue.findVersion(catalogue.versionId(v));
        for (std::uint32_t unit = 0; unit < zq::kUnitKindCount; ++unit)
            for (std::uint32_t side = 0; side < (zq::unitHasTwoSides(unit) ? 2u : 1u); ++side)
                catalogue.fileName(v, unit, side);
    }
    return 0;
}
