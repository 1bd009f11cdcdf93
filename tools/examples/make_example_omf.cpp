// Writes the XC167 images of the example RT19_bin for one software version:
//   make_example_omf OUTDIR VERSION    (VERSION as "3.1"; the files are named with "31")
//     OUTDIR/krab101_31.omf                  the KRAB101 unit (QB5 carrier board, 0x10000001)
//     OUTDIR/krcd101_l_31.omf, krcd101_r_31.omf  its left and right modules (KRMB, 0x10000100)
// Each is an OMF-166 absolute object file as the C166 tool chain writes one: a module header,
// PEDATA records of at most 256 bytes, and the ?C_STARTUP object at the first code byte.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "tools/omf_writer.h"

namespace {

struct Block {
    std::uint32_t address;
    std::uint32_t length;
};

struct Xc167Image {
    const char* file;  // before the version suffix
    const char* module;
    Block code;    // flash: start-up code, banner, then a pattern
    Block second;  // another range of the board's map
};

// NOP twice, then a jump to itself (JMPR cc_UC,$): an application that idles.
const std::string kStartupCode("\xCC\x00\xCC\x00\x0D\xFF", 6);

std::string blockBytes(const std::string& banner, std::uint32_t length, std::uint32_t seed) {
    std::string bytes = kStartupCode + banner;
    bytes.push_back('\0');
    for (std::uint32_t i = static_cast<std::uint32_t>(bytes.size()); i < length; ++i)
        bytes.push_back(static_cast<char>((i * 7 + seed * 31 + (i >> 8)) & 0xFF));
    bytes.resize(length);
    return bytes;
}

std::string pedataRecords(std::uint32_t address, const std::string& bytes) {
    std::string out;
    for (std::size_t at = 0; at < bytes.size(); at += 256)
        out += zq::omfPedata(address + static_cast<std::uint32_t>(at), bytes.substr(at, 256));
    return out;
}

std::string imageFile(const Xc167Image& image, const std::string& version, std::uint32_t seed) {
    const std::string banner =
        std::string("ZQ example ") + image.module + ", software version " + version;
    std::string file = zq::omfOther(0x02, image.module);
    file += pedataRecords(image.code.address, blockBytes(banner, image.code.length, seed));
    file +=
        pedataRecords(image.second.address, blockBytes(banner, image.second.length, seed + 100));
    file += zq::omfObject(static_cast<std::uint16_t>(image.code.address >> 16), "?C_STARTUP",
                          static_cast<std::uint16_t>(image.code.address & 0xFFFF), false, 1);
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_example_omf OUTDIR VERSION\n");
        return 2;
    }
    const std::string version = argv[2];
    std::string suffix;
    for (char c : version)
        if (c != '.') suffix.push_back(c);
    const Xc167Image images[] = {
        {"krab101", "KRAB101", {0x00010000, 3072}, {0x00D00000, 64}},
        {"krcd101_l", "KRCD101-L", {0x00A00000, 2048}, {0x00C02000, 256}},
        {"krcd101_r", "KRCD101-R", {0x00A00000, 2048}, {0x00C02000, 256}},
    };
    std::uint32_t seed = static_cast<std::uint32_t>(suffix.empty() ? 0 : std::stoul(suffix));
    for (const Xc167Image& image : images) {
        const std::string path = std::string(argv[1]) + "/" + image.file + "_" + suffix + ".omf";
        const std::string bytes = imageFile(image, version, seed++);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "make_example_omf: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
