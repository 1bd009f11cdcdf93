// zidavuvorud-cli info on images of the real PowerPC toolchain and on OMF-166 files, against
// the maps of all eight platforms.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_context.h"
#include "common/recording_failure_handler.h"
#include "common/temp_dir.h"
#include "image/elf_writer.h"
#include "image/ppc_images.h"
#include "support/text.h"
#include "tools/omf_writer.h"

namespace zq::testing {
namespace {

struct Result {
    int code;
    std::string out;
    std::string err;
};

class InfoTest : public ContractTest {
protected:
    // Runs the program in the temporary folder (-C), with the file names relative to it.
    Result info(std::vector<std::string> args) {
        const std::string dir = toUtf8(toWide(files.path()));
        std::vector<const char*> argv = {"zidavuvorud-cli", "-C", dir.c_str(), "info"};
        for (const std::string& a : args) argv.push_back(a.c_str());
        std::ostringstream out, err;
        const std::filesystem::path cwd = std::filesystem::current_path();
        int code = cli::run(static_cast<int>(argv.size()), argv.data(), out, err);
        std::filesystem::current_path(cwd);
        return {code, out.str(), err.str()};
    }

    // The lines after the platform line: the blocks and the fit result.
    Result burn(const std::string& file, const std::string& plID, bool daemon = false) {
        std::vector<std::string> args = {file, "--platform", plID};
        if (daemon) args.push_back("--daemon");
        Result r = info(args);
        std::size_t platform = r.out.find("platform: ");
        r.out =
            platform == std::string::npos ? r.out : r.out.substr(r.out.find('\n', platform) + 1);
        return r;
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

TEST_F(InfoTest, ToolchainImagesOnThePowerPcMaps) {
    for (const char* name : {"mpc8270_app", "mpc5554_app", "mpc5554_daemon", "mpc8270_ram",
                             "mpc8270_straddle", "mpc8270_across"})
        writePpc(name);
    struct Case {
        const char* file;
        const char* plID;
        bool daemon;
        const char* lines;
    };
    const Case cases[] = {
        {"mpc8270_app", "0x20000002", false,
         "block: Aux 0x80500000-0x80500003, 4 B, 4 B of data\n"
         "block: Flash 0xFF800000-0xFF800508, 1289 B, 1033 B of data\n"
         "block: Flash 0xFFF40100-0xFFF40103, 4 B, 4 B of data\nfit: ok\n"},
        {"mpc8270_app", "0x30000001", false,
         "block: Aux 0x80500000-0x80500003, 4 B, 4 B of data\n"
         "fit: Block 0xFF800000-0xFFF40103 doesn't fit into device's memory map\n"},
        {"mpc5554_app", "0x30000001", false,
         "block: Flash 0x00004000-0x0002031F, 115488 B, 2016 B of data\n"
         "block: Aux 0x80540000-0x8054003F, 64 B, 64 B of data\nfit: ok\n"},
        {"mpc5554_daemon", "0x30000001", true,
         "block: Ram 0x40000100-0x4000020F, 272 B, 272 B of data\nfit: ok\n"},
        {"mpc5554_daemon", "0x30000001", false,
         "block: Ram 0x40000100-0x4000020F, 272 B, 272 B of data\n"
         "fit: Unexpected use of memory range 0x40000000 - 0x4000FFFF\n"},
        {"mpc8270_ram", "0x20000002", false,
         "block: Ram 0x00100000-0x0010000B, 12 B, 12 B of data\n"
         "block: Flash 0xFFF40000-0xFFF40003, 4 B, 4 B of data\n"
         "fit: Unexpected use of memory range 0x00000000 - 0x07FFFFFF\n"},
        {"mpc8270_straddle", "0x20000001", false,
         "block: Flash 0xFF800000-0xFF800003, 4 B, 4 B of data\n"
         "fit: Block 0xFFEFFFF0-0xFFF0000F doesn't fit into device's memory map\n"},
        {"mpc8270_across", "0x20000003", false,
         "block: Flash 0xFFF40000-0xFFF40003, 4 B, 4 B of data\n"
         "fit: Block 0x8054FF80-0x8055007F crosses a memory range boundary\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " on " + c.plID);
        Result r = burn(std::string(c.file) + ".elf", c.plID, c.daemon);
        EXPECT_EQ(r.out, c.lines);
        EXPECT_EQ(r.code, std::string(c.lines).find("fit: ok") != std::string::npos ? 0 : 1);
    }
}

TEST_F(InfoTest, OmfFilesOnTheXc167Maps) {
    // For the QB5 boards: both lower flash ranges, the boot flash and an Aux range.
    files.write("qb5.h86",
                omfOther() + omfObject(0x0001, "?C_STARTUP", 0, false, 1) +
                    omfPedata(0x10000, pattern(0x100)) + omfPedata(0x10100, pattern(0x100)) +
                    omfPedata(0x100000, pattern(0x20)) + omfPedata(0xC02000, pattern(0x10)) +
                    omfPedata(0xD40000, pattern(4)));
    // For the KRMB boards.
    files.write("krmb.h86", omfPedata(0xA00000, pattern(0x200)) + omfPedata(0xC02000, "x"));
    // A record that runs from the first flash range of the QB5 map into the second.
    files.write("across.h86", omfPedata(0x0FFF00, pattern(0x200)));

    const std::string qb5 =
        "block: Flash 0x00010000-0x000101FF, 512 B, 512 B of data\n"
        "block: Flash 0x00100000-0x0010001F, 32 B, 32 B of data\n"
        "block: Flash 0x00C02000-0x00C0200F, 16 B, 16 B of data\n"
        "block: Aux 0x00D40000-0x00D40003, 4 B, 4 B of data\nfit: ok\n";
    EXPECT_EQ(burn("qb5.h86", "0x10000001").out, qb5);
    EXPECT_EQ(burn("qb5.h86", "0x10000002").out, qb5);
    EXPECT_EQ(burn("qb5.h86", "0x10000100").out,
              "block: Ram 0x00100000-0x0010001F, 32 B, 32 B of data\n"
              "block: Flash 0x00C02000-0x00C0200F, 16 B, 16 B of data\n"
              "fit: Block 0x00010000-0x000101FF doesn't fit into device's memory map\n");

    const std::string krmb =
        "block: Flash 0x00A00000-0x00A001FF, 512 B, 512 B of data\n"
        "block: Flash 0x00C02000-0x00C02000, 1 B, 1 B of data\nfit: ok\n";
    EXPECT_EQ(burn("krmb.h86", "0x10000100").out, krmb);
    Result r = burn("krmb.h86", "0x10000200");
    EXPECT_EQ(r.out, krmb);
    EXPECT_EQ(r.code, 0);
    r = burn("krmb.h86", "0x10000001");
    EXPECT_EQ(r.out,
              "block: Flash 0x00C02000-0x00C02000, 1 B, 1 B of data\n"
              "fit: Block 0x00A00000-0x00A001FF doesn't fit into device's memory map\n");
    EXPECT_EQ(r.code, 1);

    r = burn("across.h86", "0x10000002");
    EXPECT_EQ(r.out, "fit: Block 0x000FFF00-0x001000FF crosses a memory range boundary\n");
    EXPECT_EQ(r.code, 1);

    r = info({"qb5.h86", "--daemon"});
    EXPECT_EQ(r.out, "format: OMF-166\nentry: 0x00010000\n") << "no platform: no blocks";
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(info({"krmb.h86"}).out, "format: OMF-166\nentry: none\n");
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
    Result r = info({"gnu.elf"});
    EXPECT_EQ(r.out, "format: ELF\nerror: Chyba pri cteni ELF hlavicky\n");
    EXPECT_EQ(r.code, 1);
    r = info({"gnu.elf", "--json"});
    EXPECT_EQ(r.out,
              "{\"format\":\"ELF\",\"loaded\":false,\"error\":\"Chyba pri cteni ELF "
              "hlavicky\"}\n");

    writePpc("mpc5554_app");
    r = info({"mpc5554_app.elf", "--platform", "0x30000001", "--daemon"});
    EXPECT_EQ(r.out, "format: ELF\nerror: Nenalezen symbol _start\n");
    EXPECT_EQ(r.code, 1);

    r = info({"mpc5554_app.elf", "--platform", "0x10000001"});
    EXPECT_EQ(r.out, "format: OMF-166\nerror: Chyba kontrolniho souctu zaznamu c.0\n")
        << "the platform's family chooses the reader, whatever the file holds";
    EXPECT_EQ(r.code, 1);
}

TEST_F(InfoTest, UsageErrors) {
    writePpc("mpc8270_app");
    Result r = info({"mpc8270_app.elf", "--platform", "0x20000004"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "Unsupported platform (0x20000004)\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(info({"mpc8270_app.elf", "--platform", "0x40000001"}).code, 2);
    EXPECT_EQ(info({"mpc8270_app.elf", "--platform", "flash"}).code, 2);
    EXPECT_EQ(info({"mpc8270_app.elf", "--platform", "0x120000000"}).code, 2);
    EXPECT_EQ(info({}).code, 2) << "FILE is required";

    r = info({"missing.elf"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Nepodařilo se otevřít soubor missing.elf\n");
}

}  // namespace
}  // namespace zq::testing
