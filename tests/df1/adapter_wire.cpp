#include "adapter_wire.h"

namespace zq::testing {

namespace {

// Bit by bit, straight from the polynomials, rather than with the program's tables.
std::uint16_t genibus(const Bytes& data) {
    std::uint16_t reg = 0xFFFF;
    for (std::uint8_t byte : data) {
        reg ^= static_cast<std::uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit)
            reg = static_cast<std::uint16_t>((reg & 0x8000) ? (reg << 1) ^ 0x1021 : reg << 1);
    }
    return static_cast<std::uint16_t>(~reg);
}

std::uint16_t arc(const std::uint8_t* data, std::size_t length) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

std::uint8_t wcdma(const std::uint8_t* data, std::size_t length) {
    std::uint8_t crc = 0;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint8_t>((crc & 1) ? (crc >> 1) ^ 0xD9 : crc >> 1);
    }
    return crc;
}

Bytes header(std::uint8_t opcode, std::uint8_t status) {
    return Bytes{opcode, status};
}

}  // namespace

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
    std::uint16_t crc = genibus(message);
    message.push_back(static_cast<std::uint8_t>(crc >> 8));
    message.push_back(static_cast<std::uint8_t>(crc));
    return message;
}

Bytes packet(const Bytes& message, std::uint8_t type, std::uint8_t header1,
             std::uint8_t otherBits) {
    Bytes p{0x01, header1, static_cast<std::uint8_t>((otherBits & ~0x38u) | (type << 3))};
    p.push_back(static_cast<std::uint8_t>(~wcdma(p.data(), 3)));
    std::uint8_t check = 0;
    for (std::uint8_t byte : message) check ^= byte;
    return p + message + Bytes{check};
}

Bytes frame(const Bytes& content) {
    Bytes f{0x10, 0x02};
    for (std::uint8_t byte : content) {
        f.push_back(byte);
        if (byte == 0x10) f.push_back(0x10);
    }
    f.push_back(0x10);
    f.push_back(0x03);
    Bytes checked = content + Bytes{0x03};
    std::uint16_t crc = arc(checked.data(), checked.size());
    f.push_back(static_cast<std::uint8_t>(crc));
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    return f;
}

Bytes replyFrame(const Bytes& message, std::uint8_t type) {
    return frame(packet(message, type));
}

Bytes connectReply(std::uint32_t plId, std::uint8_t level, std::uint8_t status) {
    Bytes m = header(0xFE, status);
    putU32(m, plId);
    m.push_back(level);
    return withCrc(m);
}

Bytes eraseReply(std::uint32_t address, std::uint32_t length, std::uint8_t percent,
                 std::uint8_t status) {
    Bytes m = header(0xFD, status);
    putU32(m, address);
    putU32(m, length);
    m.push_back(percent);
    return withCrc(m);
}

Bytes uploadInitReply(std::uint32_t address, std::uint32_t length, std::uint8_t status) {
    Bytes m = header(0xFC, status);
    putU32(m, address);
    putU32(m, length);
    return withCrc(m);
}

Bytes writeReply(std::uint32_t address, std::uint16_t length, std::uint8_t status) {
    Bytes m = header(0xFB, status);
    putU32(m, address);
    putU16(m, length);
    return withCrc(m);
}

Bytes execReply(std::uint32_t address, std::uint8_t status) {
    Bytes m = header(0xFA, status);
    putU32(m, address);
    return withCrc(m);
}

Bytes command7Reply(std::uint8_t status) {
    return withCrc(header(0xF9, status));
}

Bytes readReply(std::uint32_t address, std::uint16_t length, const Bytes& data,
                std::uint8_t status) {
    Bytes m = header(0xF8, status);
    putU32(m, address);
    putU16(m, length);
    return withCrc(m + data);
}

Bytes idReadReply(const Bytes& chipId, std::uint8_t offset, std::uint8_t count, const Bytes& data,
                  std::uint8_t status) {
    return withCrc(header(0xF5, status) + chipId + Bytes{offset, count} + data);
}

Bytes idSearchReply(std::uint8_t selector, const Bytes& chipIds, std::uint8_t status) {
    return withCrc(header(0xF6, status) + Bytes{selector} + chipIds);
}

Bytes rejectReply() {
    return withCrc(header(0xF7, 0));
}

std::optional<PcFrame> decodePcFrame(const Bytes& bytes) {
    PcFrameParser parser;
    std::vector<PcFrame> frames = parser.feed(bytes.data(), bytes.size());
    if (frames.size() != 1 || parser.badFrames() != 0) return std::nullopt;
    return frames.front();
}

std::vector<PcFrame> PcFrameParser::feed(const std::uint8_t* data, std::size_t length) {
    std::vector<PcFrame> done;
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t byte = data[i];
        switch (state_) {
            case State::Hunt:
                if (escape_ && byte == 0x02) state_ = State::Address;
                escape_ = !escape_ && byte == 0x10;
                break;
            case State::Address:
                frame_ = PcFrame{byte, {}};
                state_ = State::Data;
                break;
            case State::Data:
                if (!escape_ && byte == 0x10) {
                    escape_ = true;
                } else if (escape_ && byte == 0x03) {
                    escape_ = false;
                    state_ = State::CrcLow;
                } else if (escape_ && byte != 0x10) {
                    escape_ = false;
                    ++badFrames_;
                    state_ = State::Hunt;
                } else {
                    escape_ = false;
                    frame_.data.push_back(byte);
                }
                break;
            case State::CrcLow:
                crcLow_ = byte;
                state_ = State::CrcHigh;
                break;
            case State::CrcHigh: {
                Bytes checked = Bytes{frame_.address} + frame_.data + Bytes{0x03};
                std::uint16_t crc = arc(checked.data(), checked.size());
                if (crc == (crcLow_ | (byte << 8)))
                    done.push_back(frame_);
                else
                    ++badFrames_;
                state_ = State::Hunt;
                break;
            }
        }
    }
    return done;
}

}  // namespace zq::testing
