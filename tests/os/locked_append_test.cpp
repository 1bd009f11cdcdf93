#include "os/locked_append.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#ifdef __linux__
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "common/temp_dir.h"
#include "os/sha256.h"

namespace zq {
namespace {

using testing::TempDir;

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Each line names the digest of the line before it, as the journal's records do.
std::string chainedLine(std::optional<std::string_view> last, const std::string& text) {
    return text + " " + (last ? sha256Hex(*last) : std::string("-"));
}

std::string append(const std::filesystem::path& path, const std::string& text,
                   std::chrono::milliseconds wait = kAppendLockWait) {
    return appendLockedLine(
        path, [&](std::optional<std::string_view> last) { return chainedLine(last, text); },
        wait);
}

TEST(Sha256Test, DigestsAreTheStandardOnesHoweverTheBytesArrive) {
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    Sha256 pieces;
    const std::string thousand(1000, 'a');
    for (int i = 0; i < 1000; ++i) pieces.update(thousand.data(), thousand.size());
    EXPECT_EQ(Sha256::hex(pieces.finish()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(LockedAppendTest, EachLineChainsToTheLastCompleteOneAndATornLineStaysAsItIs) {
    TempDir dir;
    const std::filesystem::path path = dir.path() / "new" / "folder" / "journal.jsonl";
    ASSERT_EQ(append(path, "first"), "");
    ASSERT_EQ(append(path, "second"), "");
    const std::string first = "first -";
    const std::string second = "second " + sha256Hex(first);
    EXPECT_EQ(fileText(path), first + "\n" + second + "\n");

    // Power lost in the middle of a write: the torn piece is kept, the next line starts anew
    // and chains past it.
    { std::ofstream(path, std::ios::binary | std::ios::app) << "{\"torn"; }
    ASSERT_EQ(append(path, "third"), "");
    EXPECT_EQ(fileText(path),
              first + "\n" + second + "\n{\"torn\nthird " + sha256Hex(second) + "\n");

    // A file with no complete line at all.
    const std::filesystem::path lone = dir.write("lone", "cut short");
    ASSERT_EQ(append(lone, "x"), "");
    EXPECT_EQ(fileText(lone), "cut short\nx -\n");
}

TEST(LockedAppendTest, AppendsFromManyWritersAtOnceNeitherTearNorInterleave) {
    TempDir dir;
    const std::filesystem::path path = dir.path() / "journal.jsonl";
    constexpr int kWriters = 4;
    constexpr int kLines = 25;
    std::vector<std::thread> writers;
    std::vector<std::string> errors(kWriters);
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            for (int i = 0; i < kLines && errors[w].empty(); ++i)
                errors[w] = append(path, std::string(200, static_cast<char>('a' + w)));
        });
    for (std::thread& writer : writers) writer.join();
    for (const std::string& error : errors) EXPECT_EQ(error, "");

    std::ifstream in(path, std::ios::binary);
    std::optional<std::string> last;
    int lines = 0;
    for (std::string line; std::getline(in, line); ++lines) {
        ASSERT_EQ(line, chainedLine(last, line.substr(0, 200))) << "line " << lines + 1;
        last = line;
    }
    EXPECT_EQ(lines, kWriters * kLines);
}

TEST(LockedAppendTest, ALockHeldLongerThanTheWaitGivesUpAndWritesNothing) {
    TempDir dir;
    const std::filesystem::path path = dir.write("journal.jsonl", "kept\n");
    {
        AppendLockHolder other(path);
        ASSERT_TRUE(other.held());
        const auto start = std::chrono::steady_clock::now();
        const std::string error = append(path, "late", std::chrono::milliseconds(300));
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
        EXPECT_NE(error.find("another program has held the file's lock for more than 0.30 s"),
                  std::string::npos)
            << error;
        EXPECT_EQ(fileText(path), "kept\n");
    }
    EXPECT_EQ(append(path, "in time"), "");
}

// A file the program may not write: read-only; as root, immutable as well, since root may
// write read-only files.
bool setImmutable(const std::filesystem::path& path, bool on) {
#ifdef __linux__
    if (::geteuid() != 0) return true;
    const int fd = ::open(path.c_str(), O_RDONLY);
    int flags = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) ::close(fd);
    return done;
#else
    (void)path;
    (void)on;
    return true;
#endif
}

bool makeUnwritable(const std::filesystem::path& path, bool on) {
    using std::filesystem::perms;
    if (on) {
        std::filesystem::permissions(path, perms::owner_read);
        // Wine run by root maps the attribute to file modes that root may ignore.
        return setImmutable(path, true) &&
               !std::ofstream(path, std::ios::binary | std::ios::app).is_open();
    }
    setImmutable(path, false);
    std::filesystem::permissions(path, perms::owner_read | perms::owner_write);
    return true;
}

TEST(LockedAppendTest, EveryFailureSaysWhyAndLeavesTheFileAsItWas) {
    TempDir dir;
    {
        SCOPED_TRACE("a folder that cannot be created");
        dir.write("blocker", "");
        const std::string error = append(dir.path() / "blocker" / "journal.jsonl", "x");
        EXPECT_EQ(error.rfind("cannot create the folder ", 0), 0u) << error;
    }
    {
        SCOPED_TRACE("a read-only file");
        const std::filesystem::path path = dir.write("read-only.jsonl", "kept\n");
        if (!makeUnwritable(path, true)) {
            makeUnwritable(path, false);
            GTEST_SKIP() << "this user may write a read-only file here";
        }
        const std::string error = append(path, "x");
        makeUnwritable(path, false);
        EXPECT_EQ(error.rfind("cannot open ", 0), 0u) << error;
        EXPECT_EQ(fileText(path), "kept\n");
    }
#ifdef __linux__
    {
        SCOPED_TRACE("a full disk");
        const std::string error = append("/dev/full", "x");
        EXPECT_EQ(error.rfind("cannot write /dev/full: ", 0), 0u) << error;
    }
#endif
}

}  // namespace
}  // namespace zq
