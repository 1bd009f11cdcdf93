// zidavuvorud-cli info: what it prints for an image of the real PowerPC toolchain and for
// OMF-166 files, and how it reports refusals.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli_context.h"
#include "cli/cli_run.h"
#include "common/recording_failure_handler.h"
#include "common/temp_dir.h"
#include "image/elf_writer.h"
#include "image/ppc_images.h"
#include "support/text.h"
#include "tools/omf_writer.h"

namespace zq::testing {
namespace {

using Result = cli::CliResult;

class InfoTest : public ContractTest {
protected:
    // Runs the program in the temporary folder (-C), with the file names relative to it.
    Result info(std::vector<std::string> args) {
        args.insert(args.begin(), "info");
        return cli::runCliIn(toUtf8(toWide(files.path())), args);
    }

    void writePpc(const char* name) { files.write(std::string(name) + ".elf", ppcImage(name).elf); }

    TempDir files;
};

TEST_F(InfoTest, PrintsFormatEntryBlocksAndFit) {
    writePpc("mpc8270_app");
    Result r = info({"mpc8270_app.elf", "--platform", "0x20000003"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "format: ELF\n"
              "entry: 0xFF800000\n"
              "platform: 0x20000003 MPC8270 @ CM61/CM62 (8MB FLASH)\n"
              "block: Aux 0x80500000-0x80500003, 4 B, 4 B of data\n"
              "block: Flash 0xFF800000-0xFF800508, 1289 B, 1033 B of data\n"
              "block: Flash 0xFFF40100-0xFFF40103, 4 B, 4 B of data\n"
              "fit: ok\n");

    r = info({"mpc8270_app.elf", "--platform", "0x20000003", "--json"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out,
              "{\"format\":\"ELF\",\"loaded\":true,\"entry\":\"0xFF800000\","
              "\"platform\":\"0x20000003\",\"platformName\":\"MPC8270 @ CM61/CM62 (8MB FLASH)\","
              "\"blocks\":[{\"kind\":\"Aux\",\"start\":\"0x80500000\",\"end\":\"0x80500003\","
              "\"length\":4,\"dataBytes\":4},{\"kind\":\"Flash\",\"start\":\"0xFF800000\","
              "\"end\":\"0xFF800508\",\"length\":1289,\"dataBytes\":1033},{\"kind\":\"Flash\","
              "\"start\":\"0xFFF40100\",\"end\":\"0xFFF40103\",\"length\":4,\"dataBytes\":4}],"
              "\"fit\":\"ok\"}\n");
}

// Where each block lies against each map is the fit check's business (tests/engine); here: how
// the command prints a refusal, and that it ends with code 1, also without a platform.
TEST_F(InfoTest, ARefusedFitEndsWithCode1) {
    files.write("across.h86", omfPedata(0x0FFF00, pattern(0x200)));
    Result r = info({"across.h86", "--platform", "0x10000002"});
    EXPECT_EQ(r.out,
              "format: OMF-166\nentry: none\nplatform: 0x10000002 XC167 @ QB5 + dualBridge "
              "(Micron)\nfit: Block 0x000FFF00-0x001000FF crosses a memory range boundary\n");
    EXPECT_EQ(r.code, 1);
    r = info({"across.h86"});
    EXPECT_EQ(r.out, "format: OMF-166\nentry: none\n") << "no platform: no blocks";
    EXPECT_EQ(r.code, 0);
}

TEST_F(InfoTest, ADeviceOrDirectoryIsNoImage) {
    Result r = info({files.path().string()});
    EXPECT_EQ(r.err, "Nepodařilo se otevřít soubor " + files.path().string() + " (adresář)\n");
    EXPECT_EQ(r.code, 1);
#ifndef _WIN32
    EXPECT_EQ(info({"/dev/zero"}).err, "Nepodařilo se otevřít soubor /dev/zero (zařízení)\n");
#endif
}

TEST_F(InfoTest, LoadFailuresPrintTheReadersMessage) {
    ElfWriter w;
    w.text(".text", 0x4000, pattern(16));
    w.flags = 0;
    files.write("gnu.elf", w.build());
    writePpc("mpc5554_app");
    using Case = std::pair<std::vector<std::string>, std::string>;
    for (const auto& [args, out] : std::vector<Case>{
             {{"gnu.elf"}, "format: ELF\nerror: Chyba pri cteni ELF hlavicky\n"},
             {{"gnu.elf", "--json"},
              "{\"format\":\"ELF\",\"loaded\":false,\"error\":\"Chyba pri cteni ELF hlavicky\"}\n"},
             {{"mpc5554_app.elf", "--platform", "0x30000001", "--daemon"},
              "format: ELF\nerror: Nenalezen symbol _start\n"},
             // The platform's family chooses the reader, whatever the file holds.
             {{"mpc5554_app.elf", "--platform", "0x10000001"},
              "format: OMF-166\nerror: Chyba kontrolniho souctu zaznamu c.0\n"}}) {
        const Result r = info(args);
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(r.code, 1);
    }
}

TEST_F(InfoTest, UsageErrors) {
    writePpc("mpc8270_app");
    Result r = info({"mpc8270_app.elf", "--platform", "0x20000004"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "Unsupported platform (0x20000004)\n");
    EXPECT_EQ(r.out, "");
    for (const char* platform : {"0x40000001", "flash", "0x120000000"})
        EXPECT_EQ(info({"mpc8270_app.elf", "--platform", platform}).code, 2) << platform;
    EXPECT_EQ(info({}).code, 2) << "FILE is required";

    r = info({"missing.elf"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Nepodařilo se otevřít soubor missing.elf\n");
}

}  // namespace
}  // namespace zq::testing
