// Writes the two XC167 reference daemons as OMF-166 absolute object files:
//   make_xc167_daemons OUTDIR   ->  OUTDIR/xc167_carrier.omf, OUTDIR/xc167_module.omf
//
// These are stand-ins for the real flash daemons, which the firmware side builds with the C166
// tool chain. Each has the layout that the program relies on: a ?C_STARTUP object whose address
// is the first byte of a PEDATA record (the boot loader jumps there after EXEC), and every byte
// in RAM of the boards it serves. The start-up code only idles; kvsb-sim plays the daemon's
// part once EXEC has reached an uploaded byte.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "tools/omf_writer.h"

namespace {

struct Xc167Daemon {
    const char* file;
    const char* module;  // the module header's name
    const char* banner;
    // Code goes into the on-chip XRAM, which both board groups have at 0x00E00000; the
    // command buffer into the board's external RAM, which the groups place differently.
    std::uint32_t bufferAddress;
};

constexpr std::uint32_t kCodeAddress = 0x00E00000;
constexpr std::uint32_t kCommandBuffer = 512;  // one request of the command set, rounded up

// NOP (CC 00) twice, then JMPR cc_UC,$ (0D FF): a jump to itself, the idle loop of a start-up
// module that has nothing to start.
const std::string kStartupCode("\xCC\x00\xCC\x00\x0D\xFF", 6);

std::string daemonFile(const Xc167Daemon& d) {
    std::string file = zq::omfOther(0x02, d.module);
    file += zq::omfPedata(kCodeAddress, kStartupCode);
    std::string buffer = d.banner;
    buffer.resize(kCommandBuffer, '\0');
    file += zq::omfPedata(d.bufferAddress, buffer);
    // Segment 0xE0, offset 0: the first byte of the code record.
    file += zq::omfObject(static_cast<std::uint16_t>(kCodeAddress >> 16), "?C_STARTUP",
                          static_cast<std::uint16_t>(kCodeAddress & 0xFFFF), false, 1);
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_xc167_daemons OUTDIR\n");
        return 2;
    }
    const Xc167Daemon daemons[] = {
        {"xc167_carrier.omf", "L2D_QB5", "ZQ reference L2 daemon, XC167 carrier boards",
         0x00400000},
        {"xc167_module.omf", "L2D_KRMB", "ZQ reference L2 daemon, XC167 module boards", 0x00100000},
    };
    for (const Xc167Daemon& d : daemons) {
        const std::string path = std::string(argv[1]) + "/" + d.file;
        const std::string bytes = daemonFile(d);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "make_xc167_daemons: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
