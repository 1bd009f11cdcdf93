// The reply decoding of every transaction: the first bytes choose a request and its fields,
// the rest are replies that the adapter frames (good, or with the flaws a byte names), raw
// bytes and DLE ACK / NAK, in arbitrary pieces. Whatever the protocol ends in, a reply it
// hands over lies inside what came.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "df1/command_protocol.h"
#include "fuzz/image_walk.h"
#include "fuzz/memory_line.h"

namespace {

struct Wire {
    zq::fuzz::MemoryLine line;
    zq::Df1FrameTx tx{line};
    zq::Df1FrameRx rx{line};
    zq::CommandProtocol protocol{tx, rx};
};

std::uint32_t u32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static zq::fuzz::AbortingFailureHandler handler;
    // One wire for the whole run: its timer thread is started once (no time-out expires within
    // an input: they are seconds long).
    static Wire wire;
    if (size < 10) return 0;
    static const std::array<std::uint8_t, zq::kMaxWriteData> bytes{};
    const std::uint32_t address = u32(data + 2);
    const std::uint32_t length = u32(data + 6);
    switch (data[0] % 10) {
        case 0: wire.protocol.connect(data[1] & 3); break;
        case 1: wire.protocol.erase(address, length, 1000); break;
        case 2: wire.protocol.uploadInit(address, length); break;
        case 3: wire.protocol.write(address, length % 497, bytes.data(), 1000); break;
        case 4: wire.protocol.read(address, length % (zq::kMaxReadData + 1)); break;
        case 5: wire.protocol.idRead(bytes.data(), data[1], data[2]); break;
        case 6: wire.protocol.exec(address); break;
        case 7: wire.protocol.command7(); break;
        case 8: wire.protocol.idSearch(data[1]); break;
        default: wire.protocol.switchChannel(data[1] & 1); break;
    }
    for (std::size_t at = 10; at < size;) {
        const std::uint8_t control = data[at++];
        const std::size_t n = std::min<std::size_t>(control & 63u, size - at);
        std::vector<std::uint8_t> piece(data + at, data + at + n);
        at += n;
        if ((control & 0xC0) == 0x40) {
            piece.insert(piece.begin(), {zq::kDle, zq::kAck});
        } else if ((control & 0xC0) == 0x80) {
            piece = zq::fuzz::adapterFrame(piece.data(), piece.size(), 4, 0);
        } else if ((control & 0xC0) == 0xC0 && !piece.empty()) {
            const std::uint8_t flaws = piece[0];
            piece = zq::fuzz::adapterFrame(piece.data() + 1, piece.size() - 1,
                                           (flaws & 0x10) ? 7 : 4, flaws);
        }
        const std::uint32_t stored =
            wire.line.deliver(piece.data(), static_cast<std::uint32_t>(piece.size()));
        wire.protocol.onSerialEvent(zq::CommandProtocol::kBytesArrived, stored);
        const zq::TxnState state = wire.protocol.state();
        if (state == zq::TxnState::Done) {
            zq::MemPtr reply;
            wire.protocol.reply(reply);
            zq::fuzz::check(reply.size() <= zq::kMaxReplyMessage, "a reply fits one message");
        }
        if (state >= zq::TxnState::Done) break;
        wire.line.sent.clear();
    }
    wire.protocol.abort();
    return 0;
}
