#include "adapter_wire.h"

namespace zq::testing {

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes textBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

void putU16(Bytes& b, std::uint16_t value) {
    b.push_back(static_cast<std::uint8_t>(value));
    b.push_back(static_cast<std::uint8_t>(value >> 8));
}

void putU32(Bytes& b, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

Bytes withCrc(Bytes message) {
    sim::appendMessageCrc(message);
    return message;
}

Bytes packet(const Bytes& message, std::uint8_t type, std::uint8_t header1,
             std::uint8_t otherBits) {
    return sim::buildPacket(type, header1, otherBits, message);
}

Bytes frame(const Bytes& content) {
    return sim::buildAdapterFrame(content);
}

Bytes replyFrame(const Bytes& message, std::uint8_t type) {
    return frame(packet(message, type));
}

namespace {

// Opcode, status, then the request's address and length fields as the reply echoes them.
Bytes reply(std::uint8_t opcode, std::uint8_t status, std::uint32_t address, int lengthBytes,
            std::uint32_t length) {
    Bytes m{opcode, status};
    putU32(m, address);
    if (lengthBytes == 4) putU32(m, length);
    if (lengthBytes == 2) putU16(m, static_cast<std::uint16_t>(length));
    return m;
}

}  // namespace

Bytes connectReply(std::uint32_t plID, std::uint8_t level, std::uint8_t status) {
    return withCrc(reply(0xFE, status, plID, 0, 0) + Bytes{level});
}

Bytes eraseReply(std::uint32_t address, std::uint32_t length, std::uint8_t percent,
                 std::uint8_t status) {
    return withCrc(reply(0xFD, status, address, 4, length) + Bytes{percent});
}

Bytes uploadInitReply(std::uint32_t address, std::uint32_t length, std::uint8_t status) {
    return withCrc(reply(0xFC, status, address, 4, length));
}

Bytes writeReply(std::uint32_t address, std::uint16_t length, std::uint8_t status) {
    return withCrc(reply(0xFB, status, address, 2, length));
}

Bytes execReply(std::uint32_t address, std::uint8_t status) {
    return withCrc(reply(0xFA, status, address, 0, 0));
}

Bytes command7Reply(std::uint8_t status) {
    return withCrc(Bytes{0xF9, status});
}

Bytes readReply(std::uint32_t address, std::uint16_t length, const Bytes& data,
                std::uint8_t status) {
    return withCrc(reply(0xF8, status, address, 2, length) + data);
}

Bytes idReadReply(const Bytes& chipId, std::uint8_t offset, std::uint8_t count, const Bytes& data,
                  std::uint8_t status) {
    return withCrc(Bytes{0xF5, status} + chipId + Bytes{offset, count} + data);
}

Bytes idSearchReply(std::uint8_t selector, const Bytes& chipIds, std::uint8_t status) {
    return withCrc(Bytes{0xF6, status, selector} + chipIds);
}

Bytes rejectReply() {
    return withCrc(Bytes{0xF7, 0});
}

std::optional<PcFrame> decodePcFrame(const Bytes& bytes) {
    sim::PcFrameDecoder decoder;
    std::vector<sim::DecodedFrame> frames;
    decoder.feed(bytes.data(), bytes.size(), frames);
    if (frames.size() != 1 || !frames.front().good || decoder.strayBytes() != 0)
        return std::nullopt;
    return frames.front().frame;
}

}  // namespace zq::testing
