#include "gui/app_startup.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "common/catalogue_writer.h"
#include "gui/sw_catalogue.h"
#include "support/text.h"

namespace zq {
namespace {

using testing::catalogueSection;
using testing::catalogueText;

namespace fs = std::filesystem;

class AppStartupTest : public testing::InTempDirTest {
protected:
    bool start(const fs::path& programDirectory = {}) {
        return readStartupCatalogue(catalogue, message, programDirectory);
    }
    // The catalogue of one version in folder/RT19_bin.
    void writeBinaries(const std::string& folder, const char* version) {
        writeImages("a", folder + "/RT19_bin");
        dir.write(folder + "/RT19_bin/config.ini",
                  catalogueText({catalogueSection(version, "Verze", "a")}, version));
    }
    // RT19_bin in a folder as the operator's message names it.
    static std::string place(const fs::path& folder) {
        return toUtf8((folder / "RT19_bin").lexically_normal().wstring());
    }

    SwCatalogue catalogue;
    std::string message = "untouched";
};

// The current folder first; without RT19_bin there, the program's folder, as a shortcut without
// "Start in" needs. Image names resolve against the binaries directory from then on.
TEST_F(AppStartupTest, EntersTheBinariesDirectoryHereElseBesideTheProgram) {
    const fs::path here = fs::current_path();
    writeBinaries("program", "SW30");
    ASSERT_TRUE(start(here / "program")) << message;
    EXPECT_EQ(message, "untouched");
    EXPECT_EQ(catalogue.versionId(0), "SW30");
    EXPECT_TRUE(fs::equivalent(fs::current_path(), here / "program/RT19_bin"));

    fs::current_path(here);
    writeBinaries(".", "SW31");
    ASSERT_TRUE(start(here / "program")) << message;
    EXPECT_EQ(catalogue.versionId(0), "SW31");
    EXPECT_TRUE(fs::equivalent(fs::current_path(), here / "RT19_bin"));
}

// Every place tried is named, each once.
TEST_F(AppStartupTest, AMissingDirectoryNamesEveryPlaceTried) {
    const fs::path here = fs::current_path();
    fs::create_directory(here / "program");
    EXPECT_FALSE(start());
    EXPECT_EQ(message, "Nenalezen adresář " + place(here));
    EXPECT_FALSE(start(here / "program"));
    EXPECT_EQ(message, "Nenalezen adresář " + place(here) + " ani " + place(here / "program"));
    EXPECT_FALSE(start(here));
    EXPECT_EQ(message, "Nenalezen adresář " + place(here));
    EXPECT_TRUE(fs::equivalent(fs::current_path(), here));
}

#ifndef _WIN32
TEST_F(AppStartupTest, ACatalogueThatIsAFifoIsRefusedWithoutWaiting) {
    fs::create_directory(dir.path() / "RT19_bin");
    ASSERT_EQ(::mkfifo((dir.path() / "RT19_bin/config.ini").c_str(), 0600), 0);
    EXPECT_FALSE(start());
    EXPECT_EQ(message, "Nepodařilo se otevřít soubor config.ini (roura (FIFO))");
}
#endif

// A missing config.ini and a refusal with its reason: the versions command's test.
TEST_F(AppStartupTest, AWrongFirstLineHasNoReasonAfterTheColon) {
    fs::create_directory(dir.path() / "RT19_bin");
    dir.write("RT19_bin/config.ini", "[versions]\n");
    EXPECT_FALSE(start());
    EXPECT_EQ(message, "Chybný formát souboru config.ini: ");
}

}  // namespace
}  // namespace zq
