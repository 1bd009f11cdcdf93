#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>

#include "cli/cli_context.h"
#include "engine/platform_list.h"
#include "support/json_writer.h"
#include "support/text.h"

namespace zq::cli {

namespace {

std::string hex32(std::uint32_t value) {
    return formatText("0x%08X", value);
}

void printText(const PlatformList& list, std::ostream& out) {
    for (std::size_t i = 0; i < list.count(); ++i) {
        const PlatformEntry& e = list.entry(i);
        if (i > 0) out << '\n';
        out << hex32(e.plID) << "  " << e.name << '\n';
        out << "  kind   start       end         size        erase ms  write ms\n";
        for (const MemRange& r : e.ranges) {
            out << formatText("  %-5s  0x%08X  0x%08X  0x%08X  %-8u  %u\n", rangeKindName(r.kind),
                              r.start, r.last(), r.size, r.eraseTimeoutMs, r.writeTimeoutMs);
        }
    }
}

void printJson(const PlatformList& list, std::ostream& out) {
    JsonWriter json(out);
    json.beginArray();
    for (const PlatformEntry& e : list.entries()) {
        json.beginObject();
        json.field("plId", hex32(e.plID));
        json.field("name", e.name);
        json.key("ranges");
        json.beginArray();
        for (const MemRange& r : e.ranges) {
            json.beginObject();
            json.field("kind", rangeKindName(r.kind));
            json.field("start", hex32(r.start));
            json.field("end", hex32(r.last()));
            json.field("size", hex32(r.size));
            json.field("eraseTimeoutMs", r.eraseTimeoutMs);
            json.field("writeTimeoutMs", r.writeTimeoutMs);
            json.endObject();
        }
        json.endArray();
        json.endObject();
    }
    json.endArray();
}

}  // namespace

void registerPlatformsCommand(CLI::App& app, CliContext& context) {
    addCommand(app, context, "platforms",
               "List the known platforms with their memory maps (end is the last address)",
               [&context] {
                   PlatformList list;
                   if (context.json) {
                       printJson(list, context.out);
                   } else {
                       printText(list, context.out);
                   }
                   return kExitDone;
               });
}

}  // namespace zq::cli
