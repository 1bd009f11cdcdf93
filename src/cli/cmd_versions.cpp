#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdint>
#include <string>

#include "cli/cli_context.h"
#include "gui/app_startup.h"
#include "gui/sw_catalogue.h"
#include "os/shell.h"
#include "support/json_writer.h"

namespace zq::cli {

namespace {

void printText(const SwCatalogue& catalogue, std::ostream& out) {
    out << "data version: " << catalogue.dataVersion() << '\n';
    std::size_t idWidth = 0;
    for (std::uint32_t i = 0; i < catalogue.versionCount(); ++i)
        idWidth = std::max(idWidth, catalogue.versionId(i).size());
    for (std::uint32_t i = 0; i < catalogue.versionCount(); ++i) {
        const std::string& id = catalogue.versionId(i);
        out << i << "  " << id << std::string(idWidth - id.size() + 2, ' ')
            << catalogue.versionName(i);
        if (static_cast<std::int32_t>(i) == catalogue.defaultIndex()) out << " *";
        out << '\n';
    }
}

void printJson(const SwCatalogue& catalogue, std::ostream& out) {
    JsonWriter json(out);
    json.beginObject();
    json.field("dataVersion", catalogue.dataVersion());
    json.field("defaultIndex", static_cast<std::int64_t>(catalogue.defaultIndex()));
    json.key("versions");
    json.beginArray();
    for (std::uint32_t i = 0; i < catalogue.versionCount(); ++i) {
        json.beginObject();
        json.field("index", i);
        json.field("id", catalogue.versionId(i));
        json.field("name", catalogue.versionName(i));
        json.field("default", static_cast<std::int32_t>(i) == catalogue.defaultIndex());
        json.key("files");
        json.beginObject();
        for (std::uint32_t unit = 0; unit < kUnitKindCount; ++unit) {
            for (std::uint32_t side = 0; side < kSideCount; ++side) {
                if (side == 1 && !unitHasTwoSides(unit)) continue;
                json.field(imageFileKey(unit, side), catalogue.fileName(i, unit, side));
            }
        }
        json.endObject();
        json.endObject();
    }
    json.endArray();
    json.endObject();
}

}  // namespace

void registerVersionsCommand(CLI::App& app, CliContext& context) {
    addCommand(app, context, "versions",
               "List the software versions of RT19_bin/config.ini, the default marked with *",
               [&context] {
                   SwCatalogue catalogue;
                   std::string message;
                   if (!readStartupCatalogue(catalogue, message, programDirectory())) {
                       context.err << message << '\n';
                       return kExitUsage;
                   }
                   if (context.json) {
                       printJson(catalogue, context.out);
                   } else {
                       printText(catalogue, context.out);
                   }
                   return kExitDone;
               });
}

}  // namespace zq::cli
