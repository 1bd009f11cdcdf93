#include <dirent.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/recording_failure_handler.h"
#include "common/temp_dir.h"
#include "os/comport.h"
#include "os/notifications.h"
#include "pty_peer.h"
#include "support/string_table.h"
#include "support/vyjimka.h"

namespace zq {
namespace {

using testing::PtyPeer;
using testing::require;
using testing::takeFailures;
using Failures = std::vector<testing::RecordedFailure>;
using namespace std::chrono_literals;

constexpr auto kPatience = 10s;

// A ComPort with the test seams within reach.
class TestPort : public ComPort {
public:
    explicit TestPort(const std::string& path, std::uint32_t baud = kComPortBaudRate)
        : ComPort(path, baud) {}
    TimedMutex& receiveLock() { return lock_; }
    void setLimits(std::chrono::milliseconds lock, std::chrono::milliseconds stop) {
        lockLimit_ = lock;
        stopLimit_ = stop;
    }
    std::uint64_t dropped() const { return rxDropped_; }
};

// Polls a condition that another thread makes true; false if it never does.
bool eventually(const std::function<bool()>& condition) {
    auto due = std::chrono::steady_clock::now() + kPatience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > due) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::string systemText(unsigned id, int error) {
    return std::string(loadString(id)) + " " + std::to_string(error) + " - " +
           systemErrorText(static_cast<std::uint32_t>(error));
}

// Runs f, which must throw a CVyjimka; returns its code and text.
using Thrown = std::pair<std::uint32_t, std::string>;
Thrown thrownBy(const std::function<void()>& f) {
    try {
        f();
    } catch (CVyjimka* e) {
        Thrown result{e->code(), e->text()};
        e->release();
        return result;
    }
    ADD_FAILURE() << "nothing was thrown";
    return {~0u, ""};
}

std::size_t entriesOf(const char* directory) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory))
        ++count;
    return count;
}

class ComPortPtyTest : public testing::PendingMessageTest {
protected:
    void TearDown() override {
        EXPECT_EQ(queue.size(), 0u) << "notifications left over";
        PendingMessageTest::TearDown();
    }

    Notification next() {
        auto n = queue.waitFor(kPatience);
        EXPECT_TRUE(n.has_value()) << "no notification came";
        return n.value_or(Notification{});
    }

    // Takes WM_COM_RXDATA notifications until they have announced total bytes.
    void announced(std::intptr_t total) {
        std::intptr_t sum = 0;
        while (sum < total) {
            Notification n = next();
            ASSERT_EQ(n.message, WM_COM_RXDATA);
            ASSERT_GT(n.wParam, 0);
            sum += n.wParam;
        }
        EXPECT_EQ(sum, total);
    }

    static void shutDown(ComPort& port) {
        port.stopRx();
        port.stopTx();
    }

    NotificationQueue queue;
    ScopedNotificationPoster installed{queue};
    PtyPeer peer;
};

TEST_F(ComPortPtyTest, OpensRawEightNoneOneWithoutHandshake) {
    for (auto [baud, speed] : {std::pair{kComPortBaudRate, speed_t{B921600}}, {115200u, B115200}}) {
        TestPort port(peer.slavePath(), baud);
        port.open();
        termios tio = peer.slaveSettings();
        EXPECT_EQ(cfgetospeed(&tio), speed);
        EXPECT_EQ(cfgetispeed(&tio), speed);
        EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CREAD | CLOCAL),
                  static_cast<tcflag_t>(CS8 | CREAD | CLOCAL));
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | ISTRIP | INPCK), 0u);
        EXPECT_EQ(tio.c_oflag & OPOST, 0u) << "bytes go out unchanged";
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        shutDown(port);
    }
}

TEST_F(ComPortPtyTest, RefusesWhatIsNoUsablePort) {
    testing::TempDir dir;
    const std::string file = dir.write("not-a-tty", "x").string();
    // Each refused port is destroyed without stopRx or stopTx.
    auto refusal = [](const std::string& path, std::uint32_t baud = kComPortBaudRate) {
        TestPort port(path, baud);
        return thrownBy([&] { port.open(); });
    };
    EXPECT_EQ(refusal(""), (Thrown{2, std::string(loadString(kStrPortBadParameter))}));
    EXPECT_EQ(refusal("/dev/zq-no-such-device"),
              (Thrown{1, systemText(kStrPortOpenFailed, ENOENT)}));
    EXPECT_EQ(refusal(file).second, systemText(kStrPortOpenFailed, ENOTTY));
    EXPECT_EQ(refusal(peer.slavePath(), 12345).second, systemText(kStrPortOpenFailed, EINVAL))
        << "a speed the driver does not know";
    TestPort owner(peer.slavePath());
    owner.open();
    const std::string busy = refusal(peer.slavePath()).second;
    EXPECT_EQ(busy, systemText(kStrPortOpenFailed, EBUSY));
    EXPECT_NE(busy.find("busy"), std::string::npos) << busy;
    shutDown(owner);
}

TEST_F(ComPortPtyTest, CompleteModeAnnouncesOnceAndDropsTheSurplus) {
    TestPort port(peer.slavePath());
    port.open();
    std::uint8_t buffer[8] = {};
    port.startRx(buffer, sizeof buffer, RxMode::OnComplete);
    peer.write("0123");
    ASSERT_TRUE(eventually([&] { return port.receivedCount() == 4; }));
    EXPECT_EQ(queue.size(), 0u) << "nothing before the buffer is full";
    peer.write("4567ABCD");
    EXPECT_EQ(next(), (Notification{WM_COM_RXDATA, 8, 0}));
    ASSERT_TRUE(eventually([&] { return port.dropped() == 4; }));
    EXPECT_EQ(std::string(buffer, buffer + 8), "01234567");
    EXPECT_EQ(queue.size(), 0u) << "dropped bytes are never announced";

    port.resetRx();
    EXPECT_EQ(port.receivedCount(), 0u);
    peer.write("wxyz0123");
    EXPECT_EQ(next(), (Notification{WM_COM_RXDATA, 8, 0}));
    EXPECT_EQ(std::string(buffer, buffer + 8), "wxyz0123") << "after resetRx, from the start";
    shutDown(port);
}

TEST_F(ComPortPtyTest, ChunkModeAnnouncesEveryChunkUpToTheEnd) {
    TestPort port(peer.slavePath());
    port.open();
    std::vector<std::uint8_t> buffer(2040);
    port.startRx(buffer.data(), 2040, RxMode::EveryChunk);
    peer.write("abc");
    announced(3);
    port.resetRx();  // forgets what was announced too
    peer.write("XY");
    announced(2);
    std::string bulk;
    for (int i = 0; i < 2038 + 100; ++i) bulk += static_cast<char>('A' + i % 26);
    peer.write(bulk);
    announced(2038);
    ASSERT_TRUE(eventually([&] { return port.dropped() == 100; }));
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "XY" + bulk.substr(0, 2038));
    shutDown(port);
}

TEST_F(ComPortPtyTest, FlushModeAnnouncesAfter200msAndAtCompletion) {
    std::uint8_t buffer[100] = {};
    {
        TestPort port(peer.slavePath());
        port.open();
        peer.write("hello");  // waits in the driver until the reception starts
        port.startRx(buffer, sizeof buffer, RxMode::CompleteOrFlush);
        EXPECT_EQ(next(), (Notification{WM_COM_RXDATA, 5, 0})) << "the 200 ms flush";
        peer.write(std::string(95, '.'));
        EXPECT_EQ(next(), (Notification{WM_COM_RXDATA, 95, 0})) << "the rest at completion";
        EXPECT_EQ(std::string(buffer, buffer + 6), "hello.");
        shutDown(port);
    }
    // Stopped before the flush: it never comes, as the armed timer is stopped with it.
    TestPort quick(peer.slavePath());
    quick.setTimeScale(50, 1);  // 10 s instead of 200 ms, so the stop surely comes first
    quick.open();
    peer.write("hello");
    quick.startRx(buffer, sizeof buffer, RxMode::CompleteOrFlush);
    ASSERT_TRUE(eventually([&] { return quick.receivedCount() == 5 && quick.isRunning(); }));
    shutDown(quick);
    EXPECT_FALSE(quick.isRunning());
}

TEST_F(ComPortPtyTest, SendWaitsForThePendingBlockAndKeepsOrder) {
    TestPort port(peer.slavePath());
    port.open();
    // Larger than the pseudo-terminal's buffers: the writer has to wait for the reader.
    std::string first(150000, 'a'), second(50000, 'b');
    for (std::size_t i = 0; i < first.size(); i += 7) first[i] = static_cast<char>(i);
    std::atomic<bool> secondHandedOver{false};
    std::thread sender([&] {
        port.send(reinterpret_cast<const std::uint8_t*>(first.data()),
                  static_cast<std::uint32_t>(first.size()));
        port.send(reinterpret_cast<const std::uint8_t*>(second.data()),
                  static_cast<std::uint32_t>(second.size()));
        secondHandedOver = true;
    });
    EXPECT_TRUE(eventually([&] { return port.isWriting(); }));
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(secondHandedOver) << "send returned while the first block was pending";
    std::string received = peer.read(first.size() + second.size());
    sender.join();
    EXPECT_TRUE(received == first + second) << "received " << received.size() << " bytes";
    EXPECT_TRUE(eventually([&] { return !port.isWriting(); }));
    port.stopTx();

    port.send(reinterpret_cast<const std::uint8_t*>("x"), 1);
    EXPECT_EQ(takeFailures(), (Failures{require("expected state")})) << "send after stopTx";
}

TEST_F(ComPortPtyTest, ADeviceThatGoesAwayEndsBothWorkersWithTheirTexts) {
    TestPort port(peer.slavePath());
    port.open();
    std::uint8_t buffer[16];
    port.startRx(buffer, sizeof buffer, RxMode::EveryChunk);
    peer.closeMaster();
    EXPECT_EQ(next(), (Notification{WM_COM_ERROR, kComErrorRxThread, 0}));
    EXPECT_EQ(takePendingMessage(), systemText(kStrPortReadFailed, EIO));
    port.stopRx();

    port.send(reinterpret_cast<const std::uint8_t*>("ping"), 4);
    EXPECT_EQ(next(), (Notification{WM_COM_ERROR, kComErrorTxThread, 0}));
    EXPECT_EQ(takePendingMessage(), systemText(kStrPortWriteFailed, EIO));
    port.send(reinterpret_cast<const std::uint8_t*>("ping"), 4);  // dropped, never hangs
    port.stopTx();
}

TEST_F(ComPortPtyTest, LockAndStopWaitsEndAsDeadlocks) {
    TestPort port(peer.slavePath());
    port.open();
    std::uint8_t buffer[16];
    {
        port.setLimits(20ms, 500ms);
        std::unique_lock<TimedMutex> held(port.receiveLock());
        port.startRx(buffer, sizeof buffer, RxMode::EveryChunk);
        EXPECT_EQ(next(), (Notification{WM_COM_ERROR, kComErrorRxThread, 0}));
        EXPECT_EQ(takePendingMessage(), "Deadlock! (ComPort::rxThreadFnc() 0)");
        EXPECT_EQ(thrownBy([&] { port.resetRx(); }),
                  (Thrown{0, "Deadlock! (ComPort::rxThreadFnc() 1)"}));
    }
    port.stopRx();
    {
        port.setLimits(std::chrono::milliseconds(kPatience), 20ms);
        std::unique_lock<TimedMutex> held(port.receiveLock());
        port.startRx(buffer, sizeof buffer, RxMode::EveryChunk);
        EXPECT_EQ(thrownBy([&] { port.stopRx(); }).second, "Deadlock! (ComPort::stopRx())");
    }
    port.stopRx();  // the thread got the lock, saw the stop and ended
    {
        port.setTimeScale(1000, 1);  // the real flush would come after 200 s
        port.setLimits(20ms, 500ms);
        port.startRx(buffer, sizeof buffer, RxMode::CompleteOrFlush);
        peer.write("!");  // once it is stored, the receive thread is past its first lock
        ASSERT_TRUE(eventually([&] { return port.receivedCount() == 1; }));
        std::unique_lock<TimedMutex> held(port.receiveLock());
        port.timeout();
        EXPECT_EQ(next(), (Notification{WM_COM_ERROR, kComErrorRxThread, 0}));
        EXPECT_EQ(takePendingMessage(), "Deadlock! (ComPort::timeout())");
    }
    port.stopRx();
    port.startRx(buffer, sizeof buffer, RxMode::EveryChunk);
    port.timeout();
    port.stopRx();
    EXPECT_EQ(takeFailures(), (Failures{require("expected state")})) << "no reception";
    port.stopTx();
}

TEST_F(ComPortPtyTest, LeavesNoDescriptorOrThreadBehind) {
    {
        // Runtimes start helper threads of their own with the first thread (ThreadSanitizer
        // does); they must be there before the count.
        TestPort first(peer.slavePath());
    }
    std::size_t descriptors = entriesOf("/proc/self/fd");
    std::size_t threads = entriesOf("/proc/self/task");
    std::uint8_t buffer[64];
    for (int i = 0; i < 20; ++i) {
        {
            TestPort port(peer.slavePath());
            port.open();
            port.startRx(buffer, sizeof buffer, RxMode::CompleteOrFlush);
            peer.write("ab");
            port.send(reinterpret_cast<const std::uint8_t*>("cd"), 2);
            if (i % 2) shutDown(port);  // else the destructor ends the workers
        }
        {
            TestPort busy(peer.slavePath(), 12345);
            thrownBy([&] { busy.open(); });
        }
    }
    EXPECT_EQ(entriesOf("/proc/self/fd"), descriptors);
    EXPECT_EQ(entriesOf("/proc/self/task"), threads);
    peer.read(40, 100ms);
    while (queue.take()) {
    }
}

}  // namespace
}  // namespace zq
