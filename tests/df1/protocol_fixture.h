#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <ostream>

#include "adapter_wire.h"
#include "common/recording_failure_handler.h"
#include "df1/command_protocol.h"
#include "os/notifications.h"
#include "scripted_line.h"

namespace zq {

// Names the state in test messages.
void PrintTo(TxnState state, std::ostream* os);

}  // namespace zq

namespace zq::testing {

// Time-outs this long never expire during a test: only expireNow() ends them.
inline constexpr ProtocolOptions kNeverExpire{.timeScaleMultiplier = 1000};

// The protocol on an in-memory line, driven from the test thread as the GUI thread drives it.
class ProtocolTest : public ContractTest {
protected:
    explicit ProtocolTest(const ProtocolOptions& options = kNeverExpire)
        : protocol{tx, rx, options} {}
    void SetUp() override;
    void TearDown() override;

    // Delivers bytes and hands their announcement to the protocol.
    void answer(const Bytes& bytes);
    void acknowledgeAndReply(const Bytes& message, std::uint8_t type = 4);
    // The payload that reply() gives now.
    Bytes replyBytes();
    // WM_COM_TIMEOUT notifications posted since the last call; fails on any other kind.
    std::size_t timeoutsPosted();

    NotificationQueue queue;
    ScopedNotificationPoster poster{queue};
    ScriptedLine line;
    Df1FrameTx tx{line};
    Df1FrameRx rx{line};
    CommandProtocol protocol;
};

}  // namespace zq::testing
