#pragma once

#include <array>
#include <cstdint>

#include "os/serial_line.h"
#include "support/mem_ptr.h"

namespace zq {

// Control bytes of the DF1 link to the programming adapter.
inline constexpr std::uint8_t kDle = 0x10;
inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;

// Frame addresses: the adapter itself (convertor channel switch) and the target behind it.
inline constexpr std::uint8_t kAddressAdapter = 0;
inline constexpr std::uint8_t kAddressTarget = 1;

// Adapter packet types: the target's replies, and the adapter's own answers (channel switch).
inline constexpr std::uint32_t kPacketReply = 4;
inline constexpr std::uint32_t kPacketAdapter = 7;

// Builds and sends one outgoing frame: DLE STX, address, data with every DLE doubled, DLE ETX,
// CRC-16/ARC over address, data and ETX, low byte first. The frame stays in the object, so a
// retransmission sends the same bytes again.
//
// The line writes a block after send() has returned, on its own thread. A new frame is therefore
// built in the other of two areas: the line takes a block only once the one before it is
// written, so the area that a build reuses is no longer being written when the frame that
// followed it was sent.
class Df1FrameTx {
public:
    static constexpr std::uint32_t kMaxData = 506;
    static constexpr std::uint32_t kFrameSize = 1020;  // 506 DLEs doubled need 1019

    explicit Df1FrameTx(SerialLine& line);
    Df1FrameTx(const Df1FrameTx&) = delete;
    Df1FrameTx& operator=(const Df1FrameTx&) = delete;

    // Requires length <= 506 ("correct size"); a longer request leaves the last frame in place.
    void build(std::uint8_t address, const std::uint8_t* data, std::uint32_t length);
    // Hands the frame to the line; the bytes stay valid until the next build().
    void send();

    const std::uint8_t* frame() const { return frames_[current_].data(); }
    std::uint32_t frameLength() const { return frameLength_; }

private:
    SerialLine& line_;
    std::array<std::array<std::uint8_t, kFrameSize>, 2> frames_{};
    std::uint32_t current_ = 0;
    std::uint32_t frameLength_ = 0;
};

// Receives the adapter's answers: DLE ACK / DLE NAK for the frame just sent, then one frame
// whose content is an adapter packet (header with CRC-8, the message, XOR byte). Owns the
// receive area that the line fills for the whole lifetime of the port; scans only bytes that
// the line has stored since the last restart. Never acknowledges what it receives.
//
// Not thread-safe by itself: the command protocol calls every operation under its lock.
class Df1FrameRx {
public:
    static constexpr std::uint32_t kRawSize = 2040;
    static constexpr std::uint32_t kPayloadSize = 508;
    // Smallest content that holds a packet header, one message byte and the XOR byte.
    static constexpr std::uint32_t kMinPacket = 6;

    enum AckState : std::uint32_t { kAwaitingAck = 0, kAcknowledged = 1, kRefused = 2 };
    enum Result : std::uint32_t { kNoFrame = 0, kGoodFrame = 1, kBadFrame = 2 };

    struct Counters {
        std::uint32_t lineErrors = 0;
        std::uint32_t crcErrors = 0;
        std::uint32_t shortFrames = 0;
        std::uint32_t badPackets = 0;
        std::uint32_t skippedType7 = 0;
        std::uint32_t badEscapes = 0;
        std::uint32_t naks = 0;

        bool operator==(const Counters&) const = default;
    };

    // Starts reception into the receive area, once, for the lifetime of the port.
    explicit Df1FrameRx(SerialLine& line);
    // Ends the reception if the owner has not: the receive thread writes into this object.
    ~Df1FrameRx();
    Df1FrameRx(const Df1FrameRx&) = delete;
    Df1FrameRx& operator=(const Df1FrameRx&) = delete;

    // Before each (re)transmission: forget everything received so far. noAck: the peer sends
    // no DLE ACK (wait for DLE STX at once). ignoreType7: skip the adapter's own packets.
    void restart(bool noAck, bool ignoreType7);
    // After a frame was taken: wait for the next frame (no acknowledgement, adapter packets
    // skipped) and scan at once what already came behind the taken one. A target may send its
    // next reply before the last one was handled; a plain restart would throw it away.
    void awaitNextFrame();
    // Bytes were announced (count is the announcement's; the scan goes up to what the line
    // holds since the last restart, so an announcement that predates a restart adds nothing).
    void onBytes(std::uint32_t count);
    void onLineError();

    std::uint32_t ackState() const { return ackState_; }
    std::uint32_t result() const { return result_; }
    // Requires result() == 1 ("expected state"). dest views the message inside the packet
    // (without header and XOR byte) until the next restart.
    void takeMessage(MemPtr& dest);

    const Counters& counters() const { return counters_; }
    std::uint32_t receiveState() const { return state_; }
    // For a trace: the receive area, scanned up to scanned() since the last restart.
    const std::uint8_t* received() const { return raw_.data(); }
    std::uint32_t scanned() const { return scanPos_; }

private:
    enum State : std::uint32_t {
        kWaitAck = 0,
        kWaitStx = 1,
        kContent = 2,
        kCrcLow = 3,
        kCrcHigh = 4,
        kComplete = 5,
        kStopped = 6,
    };

    void scan();
    void scanByte(std::uint8_t byte);
    void escapedByte(std::uint8_t byte);
    void appendContent(std::uint8_t byte);
    void evaluateFrame();
    bool packetChecks(std::uint32_t type) const;
    void stopOnError(std::uint32_t& counter);

    SerialLine& line_;
    std::uint32_t ackState_ = kAwaitingAck;
    std::uint32_t result_ = kNoFrame;
    std::array<std::uint8_t, kRawSize> raw_{};
    std::array<std::uint8_t, kPayloadSize> payload_{};
    std::uint16_t rxCrc_ = 0;
    std::uint32_t scanPos_ = 0;
    std::uint32_t payloadLength_ = 0;
    bool ignoreType7_ = false;
    std::uint32_t state_ = kWaitAck;
    std::uint16_t crc_ = 0;
    Counters counters_;
    bool escape_ = false;
};

}  // namespace zq
