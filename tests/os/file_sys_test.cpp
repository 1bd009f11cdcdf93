#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "common/recording_failure_handler.h"
#include "common/temp_dir.h"
#include "os/file_sys.h"

namespace zq {
namespace {

using testing::explicitFailure;
using testing::require;
using testing::takeFailures;
using Failures = std::vector<testing::RecordedFailure>;

class FileSysTest : public testing::ContractTest {
protected:
    testing::TempDir dir;

    std::FILE* open(const std::string& name, std::string_view bytes) {
        return OFileSys::openForRd(testing::toWide(dir.write(name, bytes)), true);
    }
};

TEST_F(FileSysTest, OpensExistingFilesAndReportsMissingOnesOnlyWhenDemanded) {
    std::wstring missing = dir.wide("missing.elf");
    EXPECT_EQ(OFileSys::openForRd(missing, false), nullptr);
    EXPECT_TRUE(takeFailures().empty());
    EXPECT_EQ(OFileSys::openForRd(missing, true), nullptr);
    EXPECT_EQ(takeFailures(), (Failures{explicitFailure("OFileSys::openForRd")}));

    EXPECT_FALSE(OFileSys::exists(missing));
    EXPECT_TRUE(OFileSys::exists(testing::toWide(dir.path())))
        << "a directory's status can be read";
    // A name outside ASCII reaches the system unchanged.
    std::FILE* file = open("binárka_žluťoučká.hex", "abc");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(OFileSys::getFileSize(file), 3u);
    OFileSys::close(file);
    EXPECT_TRUE(OFileSys::exists(dir.wide("binárka_žluťoučká.hex")));
}

#ifndef _WIN32
TEST_F(FileSysTest, OnlyRegularFilesOpenAndAFifoDoesNotBlock) {
    const std::string fifo = (dir.path() / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {dir.path().string(), "adresář"}, {"/dev/zero", "zařízení"}, {fifo, "roura (FIFO)"}};
    for (const auto& [path, reason] : cases) {
        std::string refusal;
        EXPECT_EQ(OFileSys::openForRd(testing::toWide(path), false, refusal), nullptr) << path;
        EXPECT_EQ(refusal, reason);
    }
    EXPECT_TRUE(takeFailures().empty());
}
#endif

TEST_F(FileSysTest, FileSourceReadsInBinaryMode) {
    std::FILE* file = open("data.bin", std::string("\r\n\x1A\0\xFF tail", 10));
    FileSource source(file);
    EXPECT_EQ(source.size(), 10u);
    std::array<char, 5> head{};
    EXPECT_TRUE(source.read(head.data(), 5));
    EXPECT_EQ(std::string(head.data(), 5), std::string("\r\n\x1A\0\xFF", 5)) << "no text mode";
    EXPECT_EQ(source.position(), 5u);
    EXPECT_EQ(source.remaining(), 5u);

    auto next = [&] {
        char c = '?';
        return source.read(&c, 1) ? c : '!';
    };
    source.skipBackward(2);
    EXPECT_EQ(next(), '\0');
    source.skipForward(2);
    EXPECT_EQ(next(), 't');
    source.seekFromEnd(1);
    EXPECT_EQ(next(), 'l');
    source.seekFromStart(2);
    EXPECT_EQ(next(), '\x1A');
    source.seekFromEnd(0);
    EXPECT_EQ(source.remaining(), 0u);
    OFileSys::close(file);
}

TEST_F(FileSysTest, FileSourceStaysInsideTheFile) {
    std::FILE* empty = open("empty.bin", "");
    {
        FileSource source(empty);
        EXPECT_EQ(source.size(), 0u);
        EXPECT_EQ(source.remaining(), 0u);
        char c = 'x';
        EXPECT_FALSE(source.read(&c, 1));
        EXPECT_EQ(c, '\0');
        EXPECT_EQ(takeFailures(), (Failures{require("enough free space")}));
    }
    OFileSys::close(empty);

    std::FILE* file = open("four.bin", "1234");
    FileSource source(file);
    source.seekFromStart(3);
    source.skipForward(2);
    source.skipBackward(4);
    source.seekFromStart(5);
    source.seekFromEnd(5);
    EXPECT_EQ(takeFailures(), Failures(4, require("correct offset")));
    EXPECT_EQ(source.position(), 3u);
    char c = 0;
    EXPECT_TRUE(source.read(&c, 1));
    EXPECT_EQ(c, '4') << "the file position followed the source's";
    OFileSys::close(file);
}

TEST_F(FileSysTest, AFileThatShrinksUnderTheSourceIsAFailedReadNotGarbage) {
    std::FILE* file = open("shrinks.bin", "abcdef");
    FileSource source(file);
    source.skipForward(2);
    ASSERT_EQ(source.remaining(), 4u);
    dir.write("shrinks.bin", "ab");  // truncated by another program
    std::array<char, 4> out;
    out.fill('?');
    EXPECT_FALSE(source.read(out.data(), 4));
    EXPECT_EQ(out, (std::array<char, 4>{})) << "undelivered bytes are zero";
    EXPECT_EQ(takeFailures(), (Failures{require("enough free space")}));
    OFileSys::close(file);
}

}  // namespace
}  // namespace zq
