#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "sim/df1_codec.h"

namespace zq::testing {

// The far side of the DF1 line as the tests script it, on kvsb-sim's codec: replies built by
// hand where a test needs one that a healthy target would never send.

using Bytes = sim::Bytes;
using PcFrame = sim::PcFrame;

Bytes operator+(Bytes a, const Bytes& b);
Bytes textBytes(std::string_view text);
void putU16(Bytes& b, std::uint16_t value);  // little-endian
void putU32(Bytes& b, std::uint32_t value);  // little-endian

inline const Bytes kAckBytes = sim::ackBytes();
inline const Bytes kNakBytes = sim::nakBytes();

// A command message with its CRC appended.
Bytes withCrc(Bytes message);
Bytes packet(const Bytes& message, std::uint8_t type = 4, std::uint8_t header1 = 0x5A,
             std::uint8_t otherBits = 0x81);
Bytes frame(const Bytes& content);
Bytes replyFrame(const Bytes& message, std::uint8_t type = 4);

// Replies of the command set, CRC included.
Bytes connectReply(std::uint32_t plID, std::uint8_t level, std::uint8_t status = 1);
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

// Decodes one complete frame as the PC sends it; nothing if it is not exactly one good frame.
std::optional<PcFrame> decodePcFrame(const Bytes& bytes);

}  // namespace zq::testing
