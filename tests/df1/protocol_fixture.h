#pragma once

#include <gtest/gtest.h>

#include "common/recording_failure_handler.h"
#include "df1/command_protocol.h"
#include "df1/df1_frame.h"
#include "df1/scripted_line.h"
#include "os/notifications.h"
#include "support/vyjimka.h"

namespace zq::testing {

// The command protocol on the real frame layers over a line in memory, its notifications
// queued for the test thread, which plays the GUI thread.
class ProtocolOnLineTest : public PendingMessageTest {
protected:
    explicit ProtocolOnLineTest(const ProtocolOptions& options) : protocol{tx, rx, options} {}

    NotificationQueue queue;
    ScopedNotificationPoster poster{queue};
    ScriptedLine line;
    Df1FrameTx tx{line};
    Df1FrameRx rx{line};
    CommandProtocol protocol;
};

}  // namespace zq::testing
