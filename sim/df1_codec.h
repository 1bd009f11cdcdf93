#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zq::sim {

// The adapter's side of the DF1 line, written from the wire layouts rather than from the
// program's frame classes, so that a fault in one cannot hide behind the same fault in the other.

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kDle = 0x10;
inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;

// The PC never sends more than this many data bytes in one frame.
inline constexpr std::size_t kMaxPcFrameData = 506;

inline constexpr std::uint8_t kPacketTypeReply = 4;
inline constexpr std::uint8_t kPacketTypeAdapter = 7;

// One frame as the PC sent it: DLE STX, address (never doubled), data with every DLE doubled,
// DLE ETX, CRC-16/ARC low byte first over address, data and ETX.
struct PcFrame {
    std::uint8_t address = 0;
    Bytes data;

    bool operator==(const PcFrame&) const = default;
};

// What the decoder found in the byte stream from the PC.
struct DecodedFrame {
    bool good = false;
    PcFrame frame;       // good frames only
    std::string reason;  // bad frames: "crc", "escape", "too-long", "restart"
};

// Scans the PC's bytes as they come, in pieces of any size.
class PcFrameDecoder {
public:
    void feed(const std::uint8_t* data, std::size_t length, std::vector<DecodedFrame>& out);
    // Bytes seen outside any frame (line noise, or the tail of a frame that went bad).
    std::uint64_t strayBytes() const { return strayBytes_; }

private:
    enum class State { Hunt, AddressByte, Data, CrcLow, CrcHigh };

    void onByte(std::uint8_t byte, std::vector<DecodedFrame>& out);
    void onEscaped(std::uint8_t byte, std::vector<DecodedFrame>& out);
    void fail(const char* reason, std::vector<DecodedFrame>& out);
    void finish(std::vector<DecodedFrame>& out);

    State state_ = State::Hunt;
    bool escape_ = false;
    PcFrame frame_;
    std::uint16_t rxCrc_ = 0;
    std::uint64_t strayBytes_ = 0;
};

// DLE ACK and DLE NAK.
Bytes ackBytes();
Bytes nakBytes();

// An adapter packet: 0x01, header byte 1, header byte 2 with the type in bits 3..5 (the other
// bits carry `headerBits`), the complemented CRC-8/WCDMA of those three bytes, the message, and
// the XOR of the message bytes.
Bytes buildPacket(std::uint8_t type, std::uint8_t header1, std::uint8_t headerBits,
                  const Bytes& message);

// The DF1 frame around a packet: DLE STX, content doubled, DLE ETX, CRC low, CRC high (the CRC
// bytes are not doubled).
Bytes buildAdapterFrame(const Bytes& packet);

// Breaks the frame CRC (always the last two bytes; they are never doubled).
void corruptFrameCrc(Bytes& frame);

// Appends the CRC-16/GENIBUS of a message, most significant byte first.
void appendMessageCrc(Bytes& message);

}  // namespace zq::sim
