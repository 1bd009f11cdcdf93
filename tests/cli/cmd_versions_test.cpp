#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/cli_context.h"
#include "cli/cli_run.h"
#include "common/catalogue_writer.h"

namespace zq::cli {
namespace {

using testing::catalogueSection;
using testing::catalogueText;

class VersionsCommandTest : public zq::testing::InTempDirTest {
protected:
    void SetUp() override {
        InTempDirTest::SetUp();
        writeImages("a", "site/RT19_bin");
        writeImages("b", "site/RT19_bin");
    }
    void writeCatalogue(const std::string& text) const {
        dir.write("site/RT19_bin/config.ini", text);
    }
    // Runs in the temporary directory, so that -C leads into it and the process's own
    // directory never matters.
    CliResult versions(std::vector<const char*> extra = {}) {
        std::filesystem::current_path(dir.path());
        std::vector<const char*> args = {"-C", "site", "versions"};
        args.insert(args.end(), extra.begin(), extra.end());
        return runCli(args);
    }
};

TEST_F(VersionsCommandTest, ListsVersionsWithTheDefaultMarked) {
    writeCatalogue(catalogueText({catalogueSection("SW30", "Verze 3.0", "b"),
                                  catalogueSection("SW31_beta", "Verze 3.1 (beta)", "a")},
                                 "sw30", "2.7"));
    CliResult r = versions();
    EXPECT_EQ(r.code, kExitDone) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "data version: 2.7\n"
              "0  SW30       Verze 3.0 *\n"
              "1  SW31_beta  Verze 3.1 (beta)\n");
}

TEST_F(VersionsCommandTest, JsonNamesTheImageFiles) {
    writeCatalogue(catalogueText({catalogueSection("SW31", "Verze \"3.1\"", "a")}));
    CliResult r = versions({"--json"});
    EXPECT_EQ(r.code, kExitDone) << r.err;
    EXPECT_EQ(r.out,
              "{\"dataVersion\":\"3.1\",\"defaultIndex\":0,\"versions\":[{\"index\":0,"
              "\"id\":\"SW31\",\"name\":\"Verze \\\"3.1\\\"\",\"default\":true,\"files\":{"
              "\"qel\":\"a_qel.bin\",\"mub_a\":\"a_mub_a.bin\",\"mub_b\":\"a_mub_b.bin\","
              "\"vog_a\":\"a_vog_a.bin\",\"vog_b\":\"a_vog_b.bin\",\"fut_a\":\"a_fut_a.bin\","
              "\"fut_b\":\"a_fut_b.bin\",\"kaj\":\"a_kaj.bin\"}}]}\n");
}

TEST_F(VersionsCommandTest, ARefusalIsAStartUpError) {
    // The catalogue's own reasons are its tests' business; here: how the command reports one.
    writeCatalogue(catalogueText({catalogueSection("SW31", "Verze", "z")}));
    CliResult r = versions();
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Chybný formát souboru config.ini: Soubor 'z_qel.bin' neexistuje\n");

    std::filesystem::remove(dir.path() / "site/RT19_bin/config.ini");
    CliResult noFile = versions({"--json"});
    EXPECT_EQ(noFile.code, kExitUsage);
    EXPECT_EQ(noFile.err, "Nepodařilo se otevřít soubor config.ini\n");
}

}  // namespace
}  // namespace zq::cli
