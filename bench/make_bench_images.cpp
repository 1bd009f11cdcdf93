// Writes the benchmark's image files into a folder:
//   image.elf: 32 MiB for the 32 MB MPC8270 board (0x20000002), 254 sections of 128 KiB in its
//              two flash ranges and a symbol table of 20000 entries;
//   image.omf: 3.9 MiB for the XC167 boards (0x10000001): 7936 PEDATA records of 256 bytes
//              filling the two lower flash ranges, between them 1984 records of 1000 bytes of
//              other kinds (debug information, as real files carry), and the entry object.
#include <cstdio>
#include <fstream>
#include <string>

#include "image/elf_writer.h"
#include "tools/omf_writer.h"

namespace {

using zq::testing::ElfWriter;
using zq::testing::pattern;

std::string elfImage() {
    ElfWriter w;
    const std::uint32_t section = 0x20000;
    int n = 0;
    for (std::uint32_t a = 0xFE000000u; a < 0xFFF00000u; a += section, ++n)
        w.text(".text" + std::to_string(n), a, pattern(section, static_cast<std::uint8_t>(n)));
    for (std::uint32_t a = 0xFFF40000u; a != 0; a += section, ++n)
        w.text(".text" + std::to_string(n), a, pattern(section, static_cast<std::uint8_t>(n)));
    w.bss(".bss", 0x00100000, 0x10000);
    for (int i = 0; i < 20000; ++i) w.symbol("function_" + std::to_string(i), 0xFE000000u + i * 16);
    w.symbol("_start", 0xFFF40100u);
    return w.build();
}

std::string omfImage() {
    std::string out = zq::omfOther(0x02, "BENCHMARK");
    const std::string debug(1000, 'd');
    int i = 0;
    for (std::uint32_t address = 0x10000; address < 0x200000; address += 256, ++i) {
        if (i % 4 == 0) out += zq::omfOther(0x0E, debug);
        out += zq::omfPedata(address, pattern(256, static_cast<std::uint8_t>(i)));
    }
    out += zq::omfObject(0x0001, "?C_STARTUP", 0, false, 1);
    return out;
}

bool put(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file << bytes;
    return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_bench_images FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    return put(folder + "/image.elf", elfImage()) && put(folder + "/image.omf", omfImage()) ? 0 : 1;
}
