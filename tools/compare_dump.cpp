// Compares a module's memory as kvsb-sim dumped it (--dump DIR, one folder per module) with the
// image that was burnt into it:
//   compare_dump IMAGE 0xPLID DIR/ch1
// For every Flash and Aux range of the platform's map, the bytes that the image holds there
// must be in the dump file named by the range's first written address, and the dump must hold
// nothing in those ranges that the image does not. Exit 0 when all is equal, 1 when not, 2 on
// bad arguments.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/platform_list.h"
#include "image/image_reader.h"
#include "support/mem_ptr.h"
#include "support/mem_source.h"

namespace {

using zq::MemRange;
using zq::RangeKind;

std::string fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Piece {
    std::uint32_t address;
    std::string bytes;
};

// The image's data inside one range: the span's start and size, and the pieces in it.
struct Block {
    std::uint32_t start = 0;
    std::uint32_t size = 0;
    std::vector<Piece> pieces;
};

Block blockIn(zq::ImageReader& reader, const MemRange& range) {
    Block block;
    reader.findRegion(range.start, range.size, block.start, block.size, nullptr);
    if (block.size == 0) return block;
    reader.beginRead(block.start, block.size);
    std::vector<std::uint8_t> buffer(4096);
    for (;;) {
        std::uint32_t address = 0;
        std::uint32_t length = 0;
        reader.readNext(buffer.data(), static_cast<std::uint32_t>(buffer.size()), address, length);
        if (length == 0) break;
        block.pieces.push_back(
            {address, std::string(reinterpret_cast<const char*>(buffer.data()), length)});
    }
    return block;
}

// Checks one range; prints what it found.
bool compareRange(zq::ImageReader& reader, const MemRange& range, const std::filesystem::path& dir,
                  std::map<std::uint32_t, std::filesystem::path>& dumped) {
    const Block block = blockIn(reader, range);
    // What the dump holds in this range: at most one file, named by its first written address.
    std::filesystem::path file;
    for (auto it = dumped.begin(); it != dumped.end();) {
        if (range.contains(it->first)) {
            file = it->second;
            it = dumped.erase(it);
        } else {
            ++it;
        }
    }
    char head[80];
    std::snprintf(head, sizeof head, "%s 0x%08X-0x%08X: ", zq::rangeKindName(range.kind),
                  range.start, range.last());
    if (block.size == 0) {
        if (file.empty()) return true;
        std::printf("%swritten, but the image holds nothing there\n", head);
        return false;
    }
    char expected[16];
    std::snprintf(expected, sizeof expected, "%08X.bin", block.start);
    if (file.empty() || file.filename() != expected) {
        std::printf("%sthe image's %u B at 0x%08X were not written\n", head, block.size,
                    block.start);
        return false;
    }
    const std::string dump = fileBytes(dir / file);
    if (dump.size() != block.size) {
        std::printf("%s%zu B written, the image holds %u B\n", head, dump.size(), block.size);
        return false;
    }
    for (const Piece& piece : block.pieces) {
        const std::size_t offset = piece.address - block.start;
        for (std::size_t i = 0; i < piece.bytes.size(); ++i) {
            if (dump[offset + i] != piece.bytes[i]) {
                std::printf("%sdiffers at 0x%08zX\n", head, block.start + offset + i);
                return false;
            }
        }
    }
    std::printf("%s%u B at 0x%08X equal to the image\n", head, block.size, block.start);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: compare_dump IMAGE 0xPLID DIR\n");
        return 2;
    }
    std::uint32_t plID = 0;
    try {
        plID = static_cast<std::uint32_t>(std::stoul(argv[2], nullptr, 16));
    } catch (const std::exception&) {
        std::fprintf(stderr, "compare_dump: not a platform identifier: %s\n", argv[2]);
        return 2;
    }
    zq::PlatformList platforms;
    const zq::PlatformEntry* platform = platforms.find(plID);
    std::unique_ptr<zq::ImageReader> reader = zq::createImageReader(plID);
    if (platform == nullptr || reader == nullptr) {
        std::fprintf(stderr, "compare_dump: unknown platform %s\n", argv[2]);
        return 2;
    }
    std::string image = fileBytes(argv[1]);
    zq::MemSource source(zq::MemPtr(reinterpret_cast<std::uint8_t*>(image.data()),
                                    static_cast<std::uint32_t>(image.size())));
    if (image.empty() || !reader->load(source, false)) {
        std::fprintf(stderr, "compare_dump: %s: %s\n", argv[1], reader->errorText().c_str());
        return 2;
    }
    const std::filesystem::path dir = argv[3];
    std::map<std::uint32_t, std::filesystem::path> dumped;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == 12 && name.substr(8) == ".bin")
            dumped[static_cast<std::uint32_t>(std::stoul(name.substr(0, 8), nullptr, 16))] =
                entry.path().filename();
    }
    bool equal = true;
    for (const MemRange& range : platform->ranges) {
        if (range.kind == RangeKind::Ram) continue;
        equal = compareRange(*reader, range, dir, dumped) && equal;
    }
    return equal ? 0 : 1;
}
