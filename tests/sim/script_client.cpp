#include "script_client.h"

#include <cstdio>
#include <initializer_list>
#include <utility>

#include "df1/crc.h"

namespace zq::sim::testing {

std::uint32_t getLe(const Bytes& in, std::size_t at, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = value << 8 | in.at(at + static_cast<std::size_t>(i));
    return value;
}

Bytes message(std::uint8_t opcode, const Bytes& fields) {
    Bytes m{opcode, 0x00};
    m.insert(m.end(), fields.begin(), fields.end());
    std::uint16_t crc = crc16Genibus(m.data(), m.size());
    m.push_back(static_cast<std::uint8_t>(crc >> 8));
    m.push_back(static_cast<std::uint8_t>(crc));
    return m;
}

namespace {

// A message of little-endian fields, each given as (value, width), then the bytes of tail.
Bytes request(std::uint8_t opcode, std::initializer_list<std::pair<std::uint32_t, int>> fields,
              const Bytes& tail = {}) {
    Bytes f;
    for (auto [value, width] : fields)
        for (int i = 0; i < width; ++i) f.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    f.insert(f.end(), tail.begin(), tail.end());
    return message(opcode, f);
}

}  // namespace

Bytes connectRequest() {
    return message(0x01);
}

Bytes eraseRequest(std::uint32_t address, std::uint32_t length) {
    return request(0x02, {{address, 4}, {length, 4}});
}

Bytes uploadInitRequest(std::uint32_t address, std::uint32_t length) {
    return request(0x03, {{address, 4}, {length, 4}});
}

Bytes writeRequest(std::uint32_t address, const Bytes& data) {
    return request(0x04, {{address, 4}, {static_cast<std::uint32_t>(data.size()), 2}}, data);
}

Bytes execRequest(std::uint32_t address) {
    return request(0x06, {{address, 4}});
}

Bytes readRequest(std::uint32_t address, std::uint16_t length) {
    return request(0x08, {{address, 4}, {length, 2}});
}

// The PC's frame is laid out as the adapter's, its address (0 or 1, never a DLE) leading.
Bytes pcFrame(std::uint8_t address, const Bytes& data) {
    Bytes content{address};
    content.insert(content.end(), data.begin(), data.end());
    return buildAdapterFrame(content);
}

Bytes channelFrame(int channel) {
    return pcFrame(0, {static_cast<std::uint8_t>('a' + channel)});
}

// The adapter's frames have the PC's DLE layer, so kvsb-sim's decoder takes them apart too;
// DLE ACK and DLE NAK come between frames, where the decoder counts them as stray bytes.
void AdapterReader::feed(const Bytes& bytes, std::vector<Incoming>& out) {
    for (std::uint8_t b : bytes) {
        const std::uint64_t stray = decoder_.strayBytes();
        std::vector<DecodedFrame> frames;
        decoder_.feed(&b, 1, frames);
        if (decoder_.strayBytes() == stray + 2 && (b == kAck || b == kNak)) {
            Incoming control;
            control.kind = b == kAck ? Incoming::Ack : Incoming::Nak;
            out.push_back(control);
            controls_ += 2;
        }
        for (const DecodedFrame& f : frames) out.push_back(packetOf(f));
    }
}

Incoming AdapterReader::packetOf(const DecodedFrame& frame) {
    Incoming in;
    in.kind = Incoming::BadFrame;
    Bytes p{frame.frame.address};
    p.insert(p.end(), frame.frame.data.begin(), frame.frame.data.end());
    if (!frame.good) {
        in.why = frame.reason;
    } else if (p.size() < 5) {
        in.why = "short";
    } else if (p[0] != 0x01 || static_cast<std::uint8_t>(~crc8Wcdma(p.data(), 3)) != p[3]) {
        in.why = "header";
    } else {
        std::uint8_t x = 0;
        for (std::size_t i = 4; i + 1 < p.size(); ++i) x ^= p[i];
        if (x != p.back()) {
            in.why = "xor";
        } else {
            in.kind = Incoming::Frame;
            in.type = (p[2] >> 3) & 7;
            in.message.assign(p.begin() + 4, p.end() - 1);
            in.messageCrcGood = crc16GenibusGood(in.message.data(), in.message.size());
        }
    }
    return in;
}

std::string hex(const Bytes& bytes) {
    std::string text;
    char b[4];
    for (std::uint8_t v : bytes) {
        std::snprintf(b, sizeof b, text.empty() ? "%02X" : " %02X", v);
        text += b;
    }
    return text;
}

}  // namespace zq::sim::testing
