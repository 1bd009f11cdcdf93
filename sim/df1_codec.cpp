#include "sim/df1_codec.h"

#include "df1/crc.h"

namespace zq::sim {

void PcFrameDecoder::feed(const std::uint8_t* data, std::size_t length,
                          std::vector<DecodedFrame>& out) {
    for (std::size_t i = 0; i < length; ++i) onByte(data[i], out);
}

void PcFrameDecoder::onByte(std::uint8_t byte, std::vector<DecodedFrame>& out) {
    switch (state_) {
        case State::AddressByte:
            // The address byte goes out unchanged, even when it is a DLE.
            frame_.address = byte;
            state_ = State::Data;
            return;
        case State::CrcLow:
            rxCrc_ = byte;
            state_ = State::CrcHigh;
            return;
        case State::CrcHigh:
            rxCrc_ = static_cast<std::uint16_t>(rxCrc_ | (byte << 8));
            finish(out);
            return;
        case State::Hunt:
        case State::Data:
            break;
    }
    if (escape_) {
        escape_ = false;
        onEscaped(byte, out);
    } else if (byte == kDle) {
        escape_ = true;
    } else if (state_ == State::Data) {
        if (frame_.data.size() >= kMaxPcFrameData) {
            fail("too-long", out);
            return;
        }
        frame_.data.push_back(byte);
    } else {
        ++strayBytes_;
    }
}

void PcFrameDecoder::onEscaped(std::uint8_t byte, std::vector<DecodedFrame>& out) {
    if (byte == kStx) {
        // A new start inside a frame means the PC gave up on the old one mid-way.
        if (state_ == State::Data) fail("restart", out);
        frame_ = PcFrame{};
        state_ = State::AddressByte;
        return;
    }
    if (state_ == State::Hunt) {
        strayBytes_ += 2;
        return;
    }
    if (byte == kDle) {
        if (frame_.data.size() >= kMaxPcFrameData) {
            fail("too-long", out);
            return;
        }
        frame_.data.push_back(kDle);
    } else if (byte == kEtx) {
        state_ = State::CrcLow;
    } else {
        fail("escape", out);
    }
}

void PcFrameDecoder::fail(const char* reason, std::vector<DecodedFrame>& out) {
    DecodedFrame bad;
    bad.reason = reason;
    out.push_back(std::move(bad));
    frame_ = PcFrame{};
    state_ = State::Hunt;
}

void PcFrameDecoder::finish(std::vector<DecodedFrame>& out) {
    std::uint16_t crc = crc16ArcUpdate(0, frame_.address);
    crc = crc16Arc(frame_.data.data(), frame_.data.size(), crc);
    crc = crc16ArcUpdate(crc, kEtx);
    state_ = State::Hunt;
    if (crc != rxCrc_) {
        fail("crc", out);
        return;
    }
    DecodedFrame good;
    good.good = true;
    good.frame = std::move(frame_);
    out.push_back(std::move(good));
    frame_ = PcFrame{};
}

Bytes ackBytes() {
    return {kDle, kAck};
}

Bytes nakBytes() {
    return {kDle, kNak};
}

Bytes buildPacket(std::uint8_t type, std::uint8_t header1, std::uint8_t headerBits,
                  const Bytes& message) {
    Bytes packet;
    packet.reserve(message.size() + 5);
    packet.push_back(0x01);
    packet.push_back(header1);
    packet.push_back(static_cast<std::uint8_t>((headerBits & 0xC7) | ((type & 7) << 3)));
    packet.push_back(static_cast<std::uint8_t>(~crc8Wcdma(packet.data(), 3)));
    std::uint8_t x = 0;
    for (std::uint8_t b : message) {
        packet.push_back(b);
        x ^= b;
    }
    packet.push_back(x);
    return packet;
}

Bytes buildAdapterFrame(const Bytes& packet) {
    Bytes frame{kDle, kStx};
    frame.reserve(packet.size() * 2 + 6);
    for (std::uint8_t b : packet) {
        frame.push_back(b);
        if (b == kDle) frame.push_back(kDle);
    }
    std::uint16_t crc = crc16Arc(packet.data(), packet.size());
    crc = crc16ArcUpdate(crc, kEtx);
    frame.push_back(kDle);
    frame.push_back(kEtx);
    frame.push_back(static_cast<std::uint8_t>(crc));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

void corruptFrameCrc(Bytes& frame) {
    if (frame.size() >= 2) frame[frame.size() - 2] ^= 0x5A;
}

void appendMessageCrc(Bytes& message) {
    std::uint16_t crc = crc16Genibus(message.data(), message.size());
    message.push_back(static_cast<std::uint8_t>(crc >> 8));
    message.push_back(static_cast<std::uint8_t>(crc));
}

}  // namespace zq::sim
