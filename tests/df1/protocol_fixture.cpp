#include "protocol_fixture.h"

#include <gtest/gtest.h>

#include "support/vyjimka.h"

namespace zq {

void PrintTo(TxnState state, std::ostream* os) {
    *os << txnStateName(state);
}

}  // namespace zq

namespace zq::testing {

void ProtocolTest::SetUp() {
    ContractTest::SetUp();
    takePendingMessage();
}

void ProtocolTest::TearDown() {
    EXPECT_FALSE(hasPendingMessage());
    ContractTest::TearDown();
}

void ProtocolTest::answer(const Bytes& bytes) {
    protocol.onSerialEvent(CommandProtocol::kBytesArrived, line.deliver(bytes));
}

void ProtocolTest::acknowledgeAndReply(const Bytes& message, std::uint8_t type) {
    answer(kAckBytes + replyFrame(message, type));
}

Bytes ProtocolTest::replyBytes() {
    MemPtr view;
    protocol.reply(view);
    return Bytes(view.data(), view.data() + view.size());
}

std::size_t ProtocolTest::timeoutsPosted() {
    std::size_t n = 0;
    while (auto notification = queue.take()) {
        EXPECT_EQ(notification->message, WM_COM_TIMEOUT);
        EXPECT_EQ(notification->wParam, 0);
        ++n;
    }
    return n;
}

}  // namespace zq::testing
