#include "gui/app_startup.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "common/catalogue_writer.h"
#include "gui/sw_catalogue.h"

namespace zq {
namespace {

using testing::catalogueSection;
using testing::catalogueText;

class AppStartupTest : public testing::InTempDirTest {
protected:
    bool start() { return readStartupCatalogue(catalogue, message); }

    SwCatalogue catalogue;
    std::string message = "untouched";
};

TEST_F(AppStartupTest, ReadsTheCatalogueInsideTheBinariesDirectory) {
    writeImages("a", "RT19_bin");
    dir.write("RT19_bin/config.ini", catalogueText({catalogueSection("SW31", "Verze", "a")}));
    ASSERT_TRUE(start()) << message;
    EXPECT_EQ(message, "untouched");
    EXPECT_EQ(catalogue.versionCount(), 1u);
    // Image names resolve against the binaries directory from now on.
    EXPECT_TRUE(
        std::filesystem::equivalent(std::filesystem::current_path(), dir.path() / "RT19_bin"));
}

TEST_F(AppStartupTest, MissingDirectory) {
    EXPECT_FALSE(start());
    EXPECT_EQ(message, "Nenalezen adresář RT19_bin");
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), dir.path()));
}

TEST_F(AppStartupTest, MissingCatalogueFile) {
    std::filesystem::create_directory(dir.path() / "RT19_bin");
    EXPECT_FALSE(start());
    EXPECT_EQ(message, "Nepodařilo se otevřít soubor config.ini");
}

#ifndef _WIN32
TEST_F(AppStartupTest, ACatalogueThatIsAFifoIsRefusedWithoutWaiting) {
    std::filesystem::create_directory(dir.path() / "RT19_bin");
    ASSERT_EQ(::mkfifo((dir.path() / "RT19_bin/config.ini").c_str(), 0600), 0);
    EXPECT_FALSE(start());
    EXPECT_EQ(message, "Nepodařilo se otevřít soubor config.ini (roura (FIFO))");
}
#endif

TEST_F(AppStartupTest, RefusedCatalogueCarriesTheReason) {
    std::filesystem::create_directory(dir.path() / "RT19_bin");
    dir.write("RT19_bin/config.ini", "#!KRVFlashRT19\ndefaultsw=X\n");
    EXPECT_FALSE(start());
    EXPECT_EQ(message, "Chybný formát souboru config.ini: Nenalezena verze sw \"X\"");

    // A wrong first line has no reason: nothing follows the colon.
    std::filesystem::current_path(dir.path());
    dir.write("RT19_bin/config.ini", "[versions]\n");
    EXPECT_FALSE(start());
    EXPECT_EQ(message, "Chybný formát souboru config.ini: ");
}

}  // namespace
}  // namespace zq
