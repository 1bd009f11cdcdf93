// The Windows serial port on a real COM port whose far end echoes every byte back: a loopback
// plug on Windows, under Wine a pseudo-terminal served by echo_peer.py (comport_echo.sh). The
// port is named by ZQ_TEST_COM_PORT; without it every test is skipped. What Wine's serial driver
// cannot do on a pseudo-terminal is skipped by name, so the same test still runs on Windows.
// The modes' shared logic (flush timer, lock limits) is tried over a pseudo-terminal in tests/os;
// here, what the Windows reader adds: partial reads, the surplus, line errors, exclusive opens.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "common/recording_failure_handler.h"
#include "os/comport.h"
#include "os/notifications.h"
#include "support/vyjimka.h"

namespace zq {
namespace {

using namespace std::chrono_literals;

constexpr auto kPatience = 10s;

bool underWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class TestPort : public ComPort {
public:
    explicit TestPort(const std::string& name) : ComPort(name, kComPortBaudRate) {}
    std::uint64_t dropped() const { return rxDropped_; }
    HANDLE handle() const { return reinterpret_cast<HANDLE>(systemHandle()); }
};

bool eventually(const std::function<bool()>& condition) {
    auto due = std::chrono::steady_clock::now() + kPatience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > due) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class ComPortEchoTest : public testing::ContractTest {
protected:
    void SetUp() override {
        ContractTest::SetUp();
        takePendingMessage();
        const char* name = std::getenv("ZQ_TEST_COM_PORT");
        if (name == nullptr) GTEST_SKIP() << "ZQ_TEST_COM_PORT names no port with an echo";
        portName = name;
        port = std::make_unique<TestPort>(portName);
        port->open();
    }
    void TearDown() override {
        if (port) {
            port->stopRx();
            port->stopTx();
        }
        if (auto n = queue.take()) ADD_FAILURE() << "left over: " << n->message << " " << n->wParam;
        if (auto text = takePendingMessage()) ADD_FAILURE() << "pending: " << *text;
        ContractTest::TearDown();
    }

    // Through the port and back; the bytes stay alive until the test ends, as send requires.
    void echo(std::string bytes) {
        const std::string& kept = sent.emplace_back(std::move(bytes));
        port->send(reinterpret_cast<const std::uint8_t*>(kept.data()),
                   static_cast<std::uint32_t>(kept.size()));
    }

    Notification next() {
        auto n = queue.waitFor(kPatience);
        EXPECT_TRUE(n.has_value()) << "no notification came";
        return n.value_or(Notification{});
    }

    void chunksUntil(std::intptr_t total) {
        std::intptr_t sum = 0;
        while (sum < total) {
            Notification n = next();
            ASSERT_EQ(n.message, WM_COM_RXDATA) << n.wParam;
            ASSERT_GT(n.wParam, 0);
            sum += n.wParam;
        }
        EXPECT_EQ(sum, total);
    }

    NotificationQueue queue;
    ScopedNotificationPoster installed{queue};
    std::string portName;
    std::unique_ptr<TestPort> port;
    std::deque<std::string> sent;
};

TEST_F(ComPortEchoTest, CompleteModeAnnouncesOnceAndDropsTheSurplus) {
    std::uint8_t buffer[8] = {};
    port->startRx(buffer, sizeof buffer, RxMode::OnComplete);
    echo("0123");
    ASSERT_TRUE(eventually([&] { return port->receivedCount() == 4; }));
    EXPECT_EQ(queue.size(), 0u) << "nothing before the buffer is full";
    echo("4567ABCD");
    EXPECT_EQ(next(), (Notification{WM_COM_RXDATA, 8, 0}));
    ASSERT_TRUE(eventually([&] { return port->dropped() == 4; }));
    EXPECT_EQ(std::string(buffer, buffer + 8), "01234567");
    EXPECT_EQ(queue.size(), 0u) << "dropped bytes are never announced";

    port->resetRx();
    echo("wxyz0123");
    EXPECT_EQ(next(), (Notification{WM_COM_RXDATA, 8, 0}));
    EXPECT_EQ(std::string(buffer, buffer + 8), "wxyz0123") << "after resetRx, from the start";
}

TEST_F(ComPortEchoTest, ChunkModeAnnouncesEveryChunkUpToTheEnd) {
    std::string buffer(2040, '\0');
    port->startRx(reinterpret_cast<std::uint8_t*>(buffer.data()), 2040, RxMode::EveryChunk);
    echo("abc");
    chunksUntil(3);
    port->resetRx();
    echo("XY");
    chunksUntil(2);
    EXPECT_EQ(buffer.substr(0, 3), "XYc");
    std::string bulk;
    for (int i = 0; i < 2038 + 100; ++i) bulk += static_cast<char>('A' + i % 26);
    echo(bulk);
    chunksUntil(2038);
    ASSERT_TRUE(eventually([&] { return port->dropped() == 100; }));
    EXPECT_EQ(buffer.substr(2), bulk.substr(0, 2038));
}

TEST_F(ComPortEchoTest, ALineErrorIsPostedWithItsBitsAndReceptionGoesOn) {
    if (underWine())
        GTEST_SKIP() << "Wine: ClearCommError reports no error bits on any port, so no line "
                        "error ever reaches the receive thread";
    std::uint8_t buffer[16];
    port->startRx(buffer, sizeof buffer, RxMode::EveryChunk);
    // The loopback brings our own break back: the receiver sees a break and a framing error.
    ASSERT_TRUE(SetCommBreak(port->handle()));
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(ClearCommBreak(port->handle()));
    Notification error = next();
    EXPECT_EQ(error.message, WM_COM_ERROR);
    EXPECT_NE(error.wParam & CE_BREAK, 0) << error.wParam;
    while (queue.take()) {  // the break's zero byte, if the driver stores it
    }
    port->resetRx();
    echo("ok");
    chunksUntil(2);
}

TEST_F(ComPortEchoTest, ASecondOpenOfTheSamePortIsRefused) {
    if (underWine()) GTEST_SKIP() << "Wine lets a second exclusive open of a serial port succeed";
    TestPort intruder(portName);
    try {
        intruder.open();
        ADD_FAILURE() << "opened twice";
    } catch (CVyjimka* e) {
        EXPECT_EQ(std::string(e->text()).rfind("Chyba", 0), 0u) << e->text();
        e->release();
    }
}

}  // namespace
}  // namespace zq
