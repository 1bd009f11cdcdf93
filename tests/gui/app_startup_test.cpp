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

#ifndef _WIN32
TEST_F(AppStartupTest, ACatalogueThatIsAFifoIsRefusedWithoutWaiting) {
    std::filesystem::create_directory(dir.path() / "RT19_bin");
    ASSERT_EQ(::mkfifo((dir.path() / "RT19_bin/config.ini").c_str(), 0600), 0);
    EXPECT_FALSE(start());
    EXPECT_EQ(message, "Nepodařilo se otevřít soubor config.ini (roura (FIFO))");
}
#endif

// A missing config.ini and a refusal with its reason: the versions command's test.
TEST_F(AppStartupTest, AWrongFirstLineHasNoReasonAfterTheColon) {
    std::filesystem::create_directory(dir.path() / "RT19_bin");
    dir.write("RT19_bin/config.ini", "[versions]\n");
    EXPECT_FALSE(start());
    EXPECT_EQ(message, "Chybný formát souboru config.ini: ");
}

}  // namespace
}  // namespace zq
