// Writes the burn benchmark's RT19_bin into a folder:
//   make_burn_images FOLDER   ->  FOLDER/RT19_bin/config.ini, burn_1m.elf, burn_64k.elf
// Two PowerPC images for the MPC8270 board with 16 MB of flash (0x20000001): 1 MiB and 64 KiB
// of data in sections of 64 KiB from the flash's start. The catalogue has a version for each,
// with the image as the KRAB101 file (the unit type does not matter to the simulator).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "image/elf_writer.h"

namespace {

using zq::testing::ElfWriter;
using zq::testing::pattern;

std::string image(std::uint32_t bytes) {
    ElfWriter w;
    const std::uint32_t section = 0x10000;
    int n = 0;
    for (std::uint32_t offset = 0; offset < bytes; offset += section, ++n)
        w.text(".text" + std::to_string(n), 0xFF000000u + offset,
               pattern(section, static_cast<std::uint8_t>(n * 7 + 1)));
    w.symbol("_start", 0xFF000100u);
    return w.build();
}

std::string version(const std::string& id, const std::string& file) {
    std::string text = "[" + id + "]\nname=" + id + "\n";
    for (const char* key : {"qel", "mub_a", "mub_b", "vog_a", "vog_b", "fut_a", "fut_b", "kaj"})
        text += std::string(key) + "=" + file + "\n";
    return text;
}

bool put(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
    return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_burn_images FOLDER\n");
        return 2;
    }
    const std::filesystem::path dir = std::filesystem::path(argv[1]) / "RT19_bin";
    std::filesystem::create_directories(dir);
    const std::string config = "#!KRVFlashRT19\napplswver=bench\ndefaultsw=MiB1\n" +
                               version("MiB1", "burn_1m.elf") + version("KiB64", "burn_64k.elf");
    const bool ok = put(dir / "burn_1m.elf", image(1024 * 1024)) &&
                    put(dir / "burn_64k.elf", image(64 * 1024)) && put(dir / "config.ini", config);
    return ok ? 0 : 1;
}
