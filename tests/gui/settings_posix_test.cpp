#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "gui/settings.h"
#include "gui/settings_fixture.h"

namespace zq {
namespace {

class SettingsFileTest : public SettingsTest {
protected:
    std::filesystem::path file() const { return dir.path() / "Trevik" / "RedivuvizerER"; }
    void writeFile(const std::string& text) const {
        std::filesystem::create_directories(file().parent_path());
        std::ofstream(file(), std::ios::binary | std::ios::trunc) << text;
    }
    std::string readFile() const {
        std::ostringstream text;
        text << std::ifstream(file(), std::ios::binary).rdbuf();
        return text.str();
    }
    std::uint8_t port() const { return settings().loadPortIndex(); }
};

TEST_F(SettingsFileTest, WritesARegistryLikeTextFile) {
    settings().storePortIndex(3);
    ASSERT_TRUE(settings().storeLastUpdateTime(0x677E3B80));
    std::string text = readFile();
    EXPECT_NE(text.find("\nport=binary:03\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nlastUpdateTime=binary:803b7e6700000000\n"), std::string::npos) << text;
    // The directories are the user's own; no temporary file is left beside the file.
    struct stat status {};
    ASSERT_EQ(::stat(file().parent_path().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(file().parent_path()))
        ++entries;
    EXPECT_EQ(entries, 1);
}

TEST_F(SettingsFileTest, ValuesOfAnotherTypeOrSizeAreNoValues) {
    const std::string time = "lastUpdateTime=binary:0001020304050607\n";
    writeFile("port=binary:05\n" + time);
    EXPECT_EQ(port(), 5);
    EXPECT_TRUE(hasTime());

    // Short, long, of another type; a wrong value leaves the other one readable.
    for (const char* wrong : {"port=binary:\n", "port=binary:0500\n", "port=dword:05000000\n"}) {
        writeFile(wrong + time);
        EXPECT_EQ(port(), 0) << wrong;
        EXPECT_TRUE(hasTime()) << wrong;
    }
    for (const char* wrong : {"00010203040506", "000102030405060708"}) {
        writeFile("port=binary:05\nlastUpdateTime=binary:" + std::string(wrong) + "\n");
        EXPECT_FALSE(hasTime()) << wrong;
        EXPECT_EQ(port(), 5);
    }

    // Storing turns a wrong value into the right form.
    writeFile("port=dword:05000000\n" + time);
    settings().storePortIndex(9);
    EXPECT_EQ(port(), 9);
    EXPECT_TRUE(hasTime());
    EXPECT_NE(readFile().find("\nport=binary:09\n"), std::string::npos);
}

TEST_F(SettingsFileTest, DamagedFilesHoldNoValues) {
    const char* const damaged[] = {
        "port=binary:05",  // cut short before its line end
        "port=binary:0g\n",
        "port=binary:050\n",
        "port=binary05\n",
        "=binary:05\n",
        "port=:05\n",
        "port=Binary:05\n",
        "port=binary:05\r\n",
        "port=binary:05\nport=binary:06\n",
        "port=binary:05\ngarbage\n",
        "\x7F"
        "ELF\x01\x02\x00\x00\n",
    };
    for (const char* text : damaged) {
        SCOPED_TRACE(text);
        writeFile(text);
        EXPECT_EQ(port(), 0);
        EXPECT_FALSE(hasTime());
    }
    writeFile("# comment\n\nport=binary:05\n" + std::string(70 * 1024, '#') + "\n");
    EXPECT_EQ(port(), 0) << "far larger than any file we write";

    // A damaged file is replaced whole by the next store.
    writeFile("port=binary:0g\nlastUpdateTime=binary:0001020304050607\n");
    settings().storePortIndex(2);
    EXPECT_EQ(port(), 2);
    EXPECT_FALSE(hasTime());
}

TEST_F(SettingsFileTest, UnusablePlaces) {
    // The settings path is a directory: nothing reads, nothing is written, nothing breaks.
    std::filesystem::create_directories(file());
    settings().storePortIndex(4);
    EXPECT_EQ(port(), 0);
    EXPECT_FALSE(settings().storeLastUpdateTime(1));

    // A FIFO in the file's place must not block the reader.
    std::filesystem::remove_all(file());
    ASSERT_EQ(::mkfifo(file().c_str(), 0600), 0);
    EXPECT_EQ(port(), 0);

    // "Trevik" is a file, so the directory cannot be made.
    std::filesystem::remove_all(dir.path() / "Trevik");
    std::ofstream(dir.path() / "Trevik") << "x";
    settings().storePortIndex(4);
    EXPECT_EQ(port(), 0);
}

TEST_F(SettingsFileTest, PlaceFollowsTheEnvironment) {
    const char* oldHome = std::getenv("HOME");
    std::string savedHome = oldHome != nullptr ? oldHome : "";
    ::setenv("HOME", (dir.path() / "home").c_str(), 1);

    // A relative XDG_CONFIG_HOME does not count: the default below HOME is used.
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    settings().storePortIndex(6);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "home/.config/Trevik/RedivuvizerER"));
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(port(), 6);

    // Another product name is another file beside it.
    EXPECT_EQ(Settings("Other").loadPortIndex(), 0);

    if (oldHome != nullptr) {
        ::setenv("HOME", savedHome.c_str(), 1);
    } else {
        ::unsetenv("HOME");
    }
}

}  // namespace
}  // namespace zq
