#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "script_client.h"
#include "sim_process.h"

namespace zq::sim {
namespace {

using testing::SimProcess;

using testing::Bytes;
using testing::Incoming;

// The program's end of the line, opened the way a serial port is, or a descriptor it takes.
class Port {
public:
    explicit Port(const std::string& path) : Port(open(path.c_str(), O_RDWR | O_NOCTTY)) {
        termios tio{};
        if (fd_ >= 0 && tcgetattr(fd_, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    explicit Port(int fd) : fd_(fd) {}
    ~Port() {
        if (fd_ >= 0) close(fd_);
    }
    bool isOpen() const { return fd_ >= 0; }

    void send(const Bytes& bytes) {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Reads until a frame has come, for at most two seconds.
    std::vector<Incoming> awaitFrame() {
        std::vector<Incoming> in;
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (std::chrono::steady_clock::now() < end) {
            for (const Incoming& i : in)
                if (i.kind == Incoming::Frame) return in;
            pollfd pfd{fd_, POLLIN, 0};
            if (poll(&pfd, 1, 50) <= 0) continue;
            std::uint8_t buffer[512];
            ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n > 0) reader_.feed(Bytes(buffer, buffer + n), in);
        }
        return in;
    }

private:
    int fd_ = -1;
    testing::AdapterReader reader_;
};

// The dump and the trace are read by the burns against kvsb-sim; here the options around them.
TEST(KvsbSimProcessTest, ServesAPacedExchangeOnALinkedPtyAndSummarises) {
    zq::testing::TempDir dir;
    std::string link = (dir.path() / "ttyKVSB").string();
    SimProcess sim({"--baud", "921600", "--power-on-ms", "0", "--exit-after", "2", "--summary",
                    "--link", link});
    ASSERT_EQ(sim.path().rfind("/dev/pts/", 0), 0u) << sim.path();
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.path());

    Port port(link);
    ASSERT_TRUE(port.isOpen());
    port.send(testing::channelFrame(1));
    auto start = port.awaitFrame();
    ASSERT_FALSE(start.empty());
    EXPECT_EQ(start.back().message, Bytes({'S', 'T', 'A', 'R', 'T', '\r', '\n', 'G'}));
    port.send(testing::pcFrame(1, testing::connectRequest()));
    auto l1 = port.awaitFrame();
    ASSERT_FALSE(l1.empty());
    EXPECT_EQ(testing::getLe(l1.back().message, 2, 4), 0x10000001u);

    EXPECT_EQ(sim.wait(), 0);
    std::string summary = sim.rest();
    EXPECT_NE(summary.find("wire time at 921600 Bd"), std::string::npos) << summary;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

// --once is what the burns against kvsb-sim run with; SIGTERM must still leave the dump.
TEST(KvsbSimProcessTest, ServesAnExistingSerialDeviceAndDumpsOnSigterm) {
    // A pty's slave stands in for the device; the test holds the master, as the far machine of
    // a null-modem cable would hold its own port.
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    Port port(master);
    std::string device = ptsname(master);
    zq::testing::TempDir dir;
    std::string dump = (dir.path() / "dump").string();
    SimProcess sim({"--device", device, "--dump", dump});
    EXPECT_EQ(sim.path(), device);
    port.send(testing::channelFrame(0));
    auto in = port.awaitFrame();
    ASSERT_EQ(in.size(), 1u);
    EXPECT_EQ(in[0].message, Bytes({'S', 'T', 'A', 'R', 'T', '\r', '\n', 'G'}));
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait(), 0);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(dump) / "ch0" / "index.json"));
}

TEST(KvsbSimProcessTest, BadRulesAreRefused) {
    SimProcess sim({"--fault", "nak,n=zero"});
    EXPECT_EQ(sim.wait(), 2);
}

}  // namespace
}  // namespace zq::sim
