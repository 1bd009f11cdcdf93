#include <windows.h>

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zq
