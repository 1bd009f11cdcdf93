#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "common/recording_failure_handler.h"
#include "os/comport.h"
#include "os/notifications.h"
#include "support/string_table.h"
#include "support/vyjimka.h"

namespace zq {
namespace {

using namespace std::chrono_literals;

struct Thrown {
    std::uint32_t code = ~0u;
    std::uint32_t systemError = 0;
    std::string text;
};

Thrown thrownBy(const std::function<void()>& f) {
    try {
        f();
    } catch (CVyjimka* e) {
        Thrown thrown{e->code(), 0, e->text()};
        if (auto* gle = dynamic_cast<CVyjimkaGLE*>(e)) thrown.systemError = gle->systemError();
        e->release();
        return thrown;
    }
    ADD_FAILURE() << "nothing was thrown";
    return {};
}

class ComPortWin32Test : public testing::ContractTest {
protected:
    NotificationQueue queue;
    ScopedNotificationPoster installed{queue};
};

TEST_F(ComPortWin32Test, RefusesNumbersOutOfRangeBeforeAnySystemCall) {
    for (const char* name : {"COM17", "COM0", "", "/dev/ttyUSB0"}) {
        ComPort port(name, kComPortBaudRate);
        Thrown thrown = thrownBy([&] { port.open(); });
        EXPECT_EQ(thrown.code, 2u) << name;
        EXPECT_EQ(thrown.text, loadString(kStrPortBadParameter)) << name;
    }
}

TEST_F(ComPortWin32Test, AMissingPortThrowsTheSystemErrorAndDestroysSafely) {
    ComPort port("COM9", kComPortBaudRate);
    Thrown thrown = thrownBy([&] { port.open(); });
    EXPECT_EQ(thrown.code, 1u);
    EXPECT_EQ(thrown.systemError, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
    std::string prefix = std::string(loadString(kStrPortOpenFailed)) + " 2 - ";
    EXPECT_EQ(thrown.text.substr(0, prefix.size()), prefix);
    port.stopRx();  // nothing was started
    port.stopTx();
    EXPECT_EQ(queue.size(), 0u);
}

TEST_F(ComPortWin32Test, ATransmitFailureIsPostedWithItsText) {
    takePendingMessage();
    ComPort port("COM9", kComPortBaudRate);  // never opened
    port.send(reinterpret_cast<const std::uint8_t*>("x"), 1);
    auto n = queue.waitFor(10s);
    ASSERT_TRUE(n.has_value());
    EXPECT_EQ(*n, (Notification{WM_COM_ERROR, kComErrorTxThread, 0}));
    auto text = takePendingMessage();
    ASSERT_TRUE(text.has_value());
    std::string prefix = std::string(loadString(kStrPortWriteFailed)) + " ";
    EXPECT_EQ(text->substr(0, prefix.size()), prefix);
    port.stopTx();
}

// Against a real port with an echoing peer on its far side. The test command maps COM5 to a
// pseudo-terminal under Wine and names it in ZQ_TEST_COM_PORT; elsewhere it is skipped.
TEST_F(ComPortWin32Test, EchoThroughARealPort) {
    const char* name = std::getenv("ZQ_TEST_COM_PORT");
    if (name == nullptr) GTEST_SKIP() << "ZQ_TEST_COM_PORT names no port";
    ComPort port(name, kComPortBaudRate);
    port.open();
    std::string received(2040, '\0');
    auto* buffer = reinterpret_cast<std::uint8_t*>(received.data());
    port.startRx(buffer, 2040, RxMode::EveryChunk);
    std::string sent;
    for (int i = 0; i < 1500; ++i) sent += static_cast<char>(i * 7);
    port.send(reinterpret_cast<const std::uint8_t*>(sent.data()),
              static_cast<std::uint32_t>(sent.size()));
    std::intptr_t total = 0;
    while (total < static_cast<std::intptr_t>(sent.size())) {
        auto n = queue.waitFor(10s);
        ASSERT_TRUE(n.has_value()) << "received " << total;
        ASSERT_EQ(n->message, WM_COM_RXDATA);
        total += n->wParam;
    }
    EXPECT_EQ(received.substr(0, sent.size()), sent);
    EXPECT_EQ(port.receivedCount(), sent.size());
    port.resetRx();
    port.send(reinterpret_cast<const std::uint8_t*>("again"), 5);
    for (total = 0; total < 5;) {
        auto n = queue.waitFor(10s);
        ASSERT_TRUE(n.has_value());
        total += n->wParam;
    }
    EXPECT_EQ(received.substr(0, 5), "again");
    port.stopRx();

    // A reception in flush mode: the echo is announced by the 200 ms flush.
    port.startRx(buffer, 100, RxMode::CompleteOrFlush);
    port.send(reinterpret_cast<const std::uint8_t*>("hello"), 5);
    auto flushed = queue.waitFor(10s);
    ASSERT_TRUE(flushed.has_value());
    EXPECT_EQ(*flushed, (Notification{WM_COM_RXDATA, 5, 0}));
    EXPECT_EQ(received.substr(0, 5), "hello");
    port.stopRx();
    port.stopTx();
}

}  // namespace
}  // namespace zq
