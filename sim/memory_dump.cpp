#include "sim/memory_dump.h"

#include <cstdio>
#include <fstream>
#include <vector>

#include "sim/simulator.h"
#include "support/json_writer.h"

namespace zq::sim {

namespace {

std::string fileNameFor(Address start) {
    char name[16];
    std::snprintf(name, sizeof name, "%08llX.bin", static_cast<unsigned long long>(start));
    return name;
}

bool writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes,
                std::string& error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (out) return true;
    error = "cannot write " + path.string();
    return false;
}

}  // namespace

bool writeModuleDump(const TargetModule& module, const std::filesystem::path& dir,
                     std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        error = "cannot create " + dir.string() + ": " + ec.message();
        return false;
    }
    std::ofstream index(dir / "index.json", std::ios::trunc);
    JsonWriter json(index);
    json.beginObject();
    json.field("module", module.setup().name);
    json.field("channel", module.setup().channel);
    json.field("plid", hex32(module.setup().plID));
    json.field("l2plid", hex32(module.setup().l2plID));
    json.field("level", module.level());
    json.key("blocks");
    json.beginArray();
    bool ok = true;
    for (const MapRange& range : module.map()) {
        std::vector<Span> runs = module.memory().writtenRuns(range.span);
        if (runs.empty()) continue;
        Span block{runs.front().start, runs.back().end() - runs.front().start};
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(block.length));
        module.memory().read(block.start, bytes.data(), bytes.size(),
                             TargetModule::background(range.kind));
        std::string name = fileNameFor(block.start);
        ok = writeBytes(dir / name, bytes, error) && ok;
        json.beginObject();
        json.field("file", name);
        json.field("addr", hex32(static_cast<std::uint32_t>(block.start)));
        json.field("len", static_cast<std::uint64_t>(block.length));
        json.field("kind", rangeKindName(range.kind));
        json.field("range", hex32(static_cast<std::uint32_t>(range.span.start)));
        json.key("runs");
        json.beginArray();
        for (const Span& run : runs) {
            json.beginObject();
            json.field("addr", hex32(static_cast<std::uint32_t>(run.start)));
            json.field("len", static_cast<std::uint64_t>(run.length));
            json.endObject();
        }
        json.endArray();
        json.endObject();
    }
    json.endArray();
    json.endObject();
    if (!index) {
        error = "cannot write " + (dir / "index.json").string();
        return false;
    }
    return ok;
}

bool Simulator::writeDump(const std::filesystem::path& dir, std::string& error) const {
    bool ok = true;
    for (const auto& module : modules_)
        ok = writeModuleDump(*module, dir / module->setup().name, error) && ok;
    return ok;
}

}  // namespace zq::sim
