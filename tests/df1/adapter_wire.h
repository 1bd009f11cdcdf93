#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace zq::testing {

// The far side of the DF1 line as the tests play it: adapter packets and frames towards the PC,
// and the PC's frames decoded. Written from the wire layouts, independently of src/df1, so that
// a fault there cannot hide behind the same fault here.

using Bytes = std::vector<std::uint8_t>;

Bytes operator+(Bytes a, const Bytes& b);
Bytes textBytes(std::string_view text);
void putU16(Bytes& b, std::uint16_t value);  // little-endian
void putU32(Bytes& b, std::uint32_t value);  // little-endian

inline const Bytes kAckBytes{0x10, 0x06};
inline const Bytes kNakBytes{0x10, 0x15};

// A command message with its CRC-16/GENIBUS appended, most significant byte first.
Bytes withCrc(Bytes message);
// An adapter packet around a message: 01, two header bytes (type in bits 3..5 of the second),
// the complemented CRC-8/WCDMA of those three, the message, the XOR of the message.
Bytes packet(const Bytes& message, std::uint8_t type = 4, std::uint8_t header1 = 0x5A,
             std::uint8_t otherBits = 0x81);
// A frame towards the PC: DLE STX, content with DLE doubled, DLE ETX, CRC-16/ARC over the
// content and ETX, low byte first (never doubled).
Bytes frame(const Bytes& content);
// ACK-less: frame(packet(message, type)).
Bytes replyFrame(const Bytes& message, std::uint8_t type = 4);

// Replies of the command set, CRC included.
Bytes connectReply(std::uint32_t plId, std::uint8_t level, std::uint8_t status = 1);
Bytes eraseReply(std::uint32_t address, std::uint32_t length, std::uint8_t percent,
                 std::uint8_t status = 1);
Bytes uploadInitReply(std::uint32_t address, std::uint32_t length, std::uint8_t status = 1);
Bytes writeReply(std::uint32_t address, std::uint16_t length, std::uint8_t status = 1);
Bytes execReply(std::uint32_t address, std::uint8_t status = 1);
Bytes command7Reply(std::uint8_t status = 1);
Bytes readReply(std::uint32_t address, std::uint16_t length, const Bytes& data,
                std::uint8_t status = 1);
Bytes idReadReply(const Bytes& chipId, std::uint8_t offset, std::uint8_t count, const Bytes& data,
                  std::uint8_t status = 1);
Bytes idSearchReply(std::uint8_t selector, const Bytes& chipIds, std::uint8_t status = 1);
Bytes rejectReply();

// One frame from the PC.
struct PcFrame {
    std::uint8_t address = 0;
    Bytes data;

    bool operator==(const PcFrame&) const = default;
};

// Decodes one complete frame as the PC sends it; nothing if it is not exactly one good frame.
std::optional<PcFrame> decodePcFrame(const Bytes& bytes);

// Scans the PC's bytes as they come, in pieces of any size.
class PcFrameParser {
public:
    std::vector<PcFrame> feed(const std::uint8_t* data, std::size_t length);
    std::size_t badFrames() const { return badFrames_; }

private:
    enum class State { Hunt, Address, Data, CrcLow, CrcHigh };
    State state_ = State::Hunt;
    bool escape_ = false;
    PcFrame frame_;
    std::uint8_t crcLow_ = 0;
    std::size_t badFrames_ = 0;
};

}  // namespace zq::testing
