#pragma once

#include <cstddef>
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

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
inline Bytes textBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}
// Little-endian fields.
inline Bytes le16(std::uint16_t v) {
    return {std::uint8_t(v), std::uint8_t(v >> 8)};
}
inline Bytes le32(std::uint32_t v) {
    return le16(std::uint16_t(v)) + le16(std::uint16_t(v >> 16));
}

// The bytes with the one at `at` (from the end if negative) XORed with `mask`.
inline Bytes flipped(Bytes b, std::ptrdiff_t at, std::uint8_t mask) {
    b[at < 0 ? b.size() + at : at] ^= mask;
    return b;
}

inline const Bytes kAckBytes = sim::ackBytes();
inline const Bytes kNakBytes = sim::nakBytes();

// A command message with its CRC appended.
inline Bytes withCrc(Bytes message) {
    sim::appendMessageCrc(message);
    return message;
}
inline Bytes packet(const Bytes& message, std::uint8_t type = 4) {
    return sim::buildPacket(type, 0x5A, 0x81, message);
}
inline Bytes frame(const Bytes& content) {
    return sim::buildAdapterFrame(content);
}
inline Bytes replyFrame(const Bytes& message, std::uint8_t type = 4) {
    return frame(packet(message, type));
}

// Replies of the command set, CRC included: opcode, status, then the request's fields as the
// reply echoes them.
inline Bytes connectReply(std::uint32_t plID, std::uint8_t level, std::uint8_t status = 1) {
    return withCrc(Bytes{0xFE, status} + le32(plID) + Bytes{level});
}
inline Bytes eraseReply(std::uint32_t address, std::uint32_t length, std::uint8_t percent,
                        std::uint8_t status = 1) {
    return withCrc(Bytes{0xFD, status} + le32(address) + le32(length) + Bytes{percent});
}
inline Bytes uploadInitReply(std::uint32_t address, std::uint32_t length, std::uint8_t status = 1) {
    return withCrc(Bytes{0xFC, status} + le32(address) + le32(length));
}
inline Bytes writeReply(std::uint32_t address, std::uint16_t length, std::uint8_t status = 1) {
    return withCrc(Bytes{0xFB, status} + le32(address) + le16(length));
}
inline Bytes execReply(std::uint32_t address, std::uint8_t status = 1) {
    return withCrc(Bytes{0xFA, status} + le32(address));
}
inline Bytes command7Reply(std::uint8_t status = 1) {
    return withCrc(Bytes{0xF9, status});
}
inline Bytes readReply(std::uint32_t address, std::uint16_t length, const Bytes& data,
                       std::uint8_t status = 1) {
    return withCrc(Bytes{0xF8, status} + le32(address) + le16(length) + data);
}
inline Bytes idReadReply(const Bytes& chipId, std::uint8_t offset, std::uint8_t count,
                         const Bytes& data, std::uint8_t status = 1) {
    return withCrc(Bytes{0xF5, status} + chipId + Bytes{offset, count} + data);
}
inline Bytes idSearchReply(std::uint8_t selector, const Bytes& chipIds, std::uint8_t status = 1) {
    return withCrc(Bytes{0xF6, status, selector} + chipIds);
}
inline Bytes rejectReply() {
    return withCrc(Bytes{0xF7, 0});
}

// Decodes one complete frame as the PC sends it; nothing if it is not exactly one good frame.
inline std::optional<PcFrame> decodePcFrame(const Bytes& bytes) {
    sim::PcFrameDecoder decoder;
    std::vector<sim::DecodedFrame> frames;
    decoder.feed(bytes.data(), bytes.size(), frames);
    if (frames.size() != 1 || !frames.front().good || decoder.strayBytes() != 0)
        return std::nullopt;
    return frames.front().frame;
}

}  // namespace zq::testing
