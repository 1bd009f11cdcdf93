// zidavuvorud-cli info FILE [--platform 0xPLID] [--daemon]: how the program sees an image file,
// and, for a platform, the blocks a burn would write and the checks it would make first.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_context.h"
#include "engine/image_fit.h"
#include "engine/platform_list.h"
#include "image/elf_image_reader.h"
#include "image/omf_image_reader.h"
#include "os/file_sys.h"
#include "support/json_writer.h"
#include "support/string_table.h"
#include "support/text.h"

namespace zq::cli {

namespace {

struct InfoOptions {
    std::string file;
    std::string platform;
    bool daemon = false;
};

struct Block {
    const MemRange* range;
    std::uint32_t start, length, dataBytes;
};

struct InfoReport {
    std::string format;
    bool loaded = false;
    std::string error;
    bool hasEntry = false;
    std::uint32_t entry = 0;
    const PlatformEntry* platform = nullptr;
    std::vector<Block> blocks;
    std::string fitError;
};

std::string hex32(std::uint32_t value) {
    return formatText("0x%08X", value);
}

// "0x10000001" as the identifiers are written everywhere, or a decimal number.
bool parsePlatform(const std::string& text, std::uint32_t& plID) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.empty() || digits.size() > 10 ||
        digits.find_first_not_of(allowed) != std::string::npos)
        return false;
    const unsigned long long value = std::stoull(digits, nullptr, hex ? 16 : 10);
    if (value > 0xFFFFFFFFull) return false;
    plID = static_cast<std::uint32_t>(value);
    return true;
}

// Without a platform the file's first bytes choose: ELF's magic, else OMF-166 (whose first
// record type varies).
bool looksLikeElf(ByteSource& source) {
    std::uint8_t magic[4] = {};
    bool elf = source.remaining() >= 4 && source.read(magic, 4) && magic[0] == 0x7F &&
               magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F';
    source.seekFromStart(0);
    return elf;
}

void inspect(ImageReader& reader, const InfoOptions& options, InfoReport& report) {
    report.hasEntry = reader.hasEntry();
    report.entry = reader.entryAddress();
    if (report.platform == nullptr) return;
    for (const MemRange& range : report.platform->ranges) {
        Block block{&range, 0, 0, 0};
        reader.findRegion(range.start, range.size, block.start, block.length, &block.dataBytes);
        if (block.length != 0) report.blocks.push_back(block);
    }
    report.fitError = checkImageFit(reader, *report.platform, !options.daemon);
}

void printText(std::ostream& out, const InfoReport& r) {
    out << "format: " << r.format << '\n';
    if (!r.loaded) {
        out << "error: " << r.error << '\n';
        return;
    }
    out << "entry: " << (r.hasEntry ? hex32(r.entry) : std::string("none")) << '\n';
    if (r.platform == nullptr) return;
    out << "platform: " << hex32(r.platform->plID) << ' ' << r.platform->name << '\n';
    for (const Block& b : r.blocks)
        out << formatText("block: %s 0x%08X-0x%08X, %u B, %u B of data\n",
                          rangeKindName(b.range->kind), b.start, b.start + b.length - 1, b.length,
                          b.dataBytes);
    out << "fit: " << (r.fitError.empty() ? std::string("ok") : r.fitError) << '\n';
}

void printJson(std::ostream& out, const InfoReport& r) {
    JsonWriter json(out);
    json.beginObject();
    json.field("format", r.format);
    json.field("loaded", r.loaded);
    if (!r.loaded) {
        json.field("error", r.error);
        json.endObject();
        return;
    }
    json.key("entry");
    r.hasEntry ? json.value(hex32(r.entry)) : json.null();
    if (r.platform != nullptr) {
        json.field("platform", hex32(r.platform->plID));
        json.field("platformName", r.platform->name);
        json.key("blocks");
        json.beginArray();
        for (const Block& b : r.blocks) {
            json.beginObject();
            json.field("kind", rangeKindName(b.range->kind));
            json.field("start", hex32(b.start));
            json.field("end", hex32(b.start + b.length - 1));
            json.field("length", b.length);
            json.field("dataBytes", b.dataBytes);
            json.endObject();
        }
        json.endArray();
        json.field("fit", r.fitError.empty() ? std::string("ok") : r.fitError);
    }
    json.endObject();
}

int runInfo(CliContext& context, const InfoOptions& options) {
    const PlatformList platforms;
    InfoReport report;
    bool elf = false;
    if (!options.platform.empty()) {
        std::uint32_t plID = 0;
        if (!parsePlatform(options.platform, plID)) {
            context.err << "zidavuvorud-cli info: invalid platform identifier '" << options.platform
                        << "'\n";
            return kExitUsage;
        }
        // The family chooses the reader, as the engine chooses it at the L1 connect.
        report.platform = platforms.find(plID);
        if (report.platform == nullptr || createImageReader(plID) == nullptr) {
            context.err << formatText("Unsupported platform (0x%08X)", plID) << '\n';
            return kExitUsage;
        }
        elf = platformFamily(plID) != 0x1;
    }

    std::string refusal;
    std::FILE* file = OFileSys::openForRd(fromUtf8(options.file), false, refusal);
    if (file == nullptr) {
        context.err << withRefusal(formatString(kStrCannotOpenFile, options.file.c_str()), refusal)
                    << '\n';
        return kExitFailed;
    }
    {
        FileSource source(file);
        if (report.platform == nullptr) elf = looksLikeElf(source);
        std::unique_ptr<ImageReader> reader;
        if (elf)
            reader = std::make_unique<ElfImageReader>();
        else
            reader = std::make_unique<OmfImageReader>();
        report.format = elf ? "ELF" : "OMF-166";
        report.loaded = reader->load(source, options.daemon);
        if (report.loaded)
            inspect(*reader, options, report);
        else
            report.error = reader->errorText();
    }
    OFileSys::close(file);

    if (context.json)
        printJson(context.out, report);
    else
        printText(context.out, report);
    return report.loaded && report.fitError.empty() ? kExitDone : kExitFailed;
}

}  // namespace

void registerInfoCommand(CLI::App& app, CliContext& context) {
    auto options = std::make_shared<InfoOptions>();
    CLI::App* command = addCommand(
        app, context, "info",
        "Show an image file's format, entry and, for a platform, the blocks a burn would "
        "write and whether the image fits the memory map",
        [&context, options] { return runInfo(context, *options); });
    command->add_option("FILE", options->file, "ELF or OMF-166 image file")->required();
    command->add_option("--platform", options->platform,
                        "Platform identifier (0xPLID): its family chooses the reader, its "
                        "memory map the blocks and checks");
    command->add_flag("--daemon", options->daemon,
                      "Load as a daemon: the entry symbol is required and the checks are those "
                      "of an upload into RAM");
}

}  // namespace zq::cli
