// The DF1 receiver fed an arbitrary byte stream in arbitrary pieces, with frames of the frame
// sender's own making mixed in, and restarted and advanced as the transactions do.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "fuzz/image_walk.h"
#include "fuzz/memory_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static zq::fuzz::AbortingFailureHandler handler;
    zq::fuzz::MemoryLine line;
    zq::Df1FrameTx tx(line);
    zq::Df1FrameRx rx(line);
    rx.restart(data != nullptr && size > 0 && (data[0] & 1) != 0, size > 0 && (data[0] & 2) != 0);
    // Each piece: a control byte, then up to 31 bytes. Bits 5..6: the bytes go as they are (0),
    // framed by the sender (1, its own output), or as a message in the adapter's frame, good (2)
    // or with the flaws that the piece's first byte names (3). Bit 7: how a frame is followed.
    for (std::size_t at = 1; at < size;) {
        const std::uint8_t control = data[at++];
        const std::size_t n = std::min<std::size_t>(control & 31u, size - at);
        std::vector<std::uint8_t> piece(data + at, data + at + n);
        at += n;
        const unsigned how = (control >> 5) & 3u;
        if (how == 1) {
            line.sent.clear();
            tx.build(zq::kAddressTarget, piece.data(), static_cast<std::uint32_t>(piece.size()));
            tx.send();
            piece = line.sent;
        } else if (how >= 2) {
            const std::uint8_t flaws = how == 3 && !piece.empty() ? piece[0] : 0;
            piece = zq::fuzz::adapterFrame(piece.data(), piece.size(), (flaws & 0x10) ? 7 : 4,
                                           flaws);
        }
        line.deliver(piece.data(), static_cast<std::uint32_t>(piece.size()));
        if (control == 0xFF) rx.onLineError();
        rx.onBytes(static_cast<std::uint32_t>(piece.size()));
        zq::fuzz::check(rx.scanned() <= line.receivedCount(), "scanned only what came");
        if (rx.result() == zq::Df1FrameRx::kGoodFrame) {
            zq::MemPtr message;
            rx.takeMessage(message);
            zq::fuzz::check(message.size() + 5 <= zq::Df1FrameRx::kPayloadSize,
                            "a message fits the payload area");
            if ((control & 0x80) != 0)
                rx.awaitNextFrame();
            else
                rx.restart((control & 0x40) != 0, true);
        } else if (line.receivedCount() == zq::Df1FrameRx::kRawSize || (control & 0x9F) == 0x80) {
            rx.restart(false, true);
        }
    }
    return 0;
}
