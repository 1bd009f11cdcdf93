#include "script_client.h"

#include <cstdio>
#include <initializer_list>
#include <utility>

#include "df1/crc.h"

namespace zq::sim::testing {

void putLe(Bytes& out, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

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
    for (auto [value, width] : fields) putLe(f, value, width);
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

Bytes pcFrame(std::uint8_t address, const Bytes& data) {
    Bytes frame{0x10, 0x02, address};
    std::uint16_t crc = crc16ArcUpdate(0, address);
    for (std::uint8_t b : data) {
        crc = crc16ArcUpdate(crc, b);
        frame.push_back(b);
        if (b == 0x10) frame.push_back(0x10);
    }
    crc = crc16ArcUpdate(crc, 0x03);
    frame.insert(frame.end(),
                 {0x10, 0x03, static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8)});
    return frame;
}

Bytes channelFrame(int channel) {
    return pcFrame(0, {static_cast<std::uint8_t>('a' + channel)});
}

namespace {

Incoming control(Incoming::Kind kind) {
    Incoming in;
    in.kind = kind;
    return in;
}

}  // namespace

void AdapterReader::feed(const Bytes& bytes, std::vector<Incoming>& out) {
    for (std::uint8_t b : bytes) {
        if (state_ == 2) {
            crc_ = b;
            state_ = 3;
            continue;
        }
        if (state_ == 3) {
            crc_ = static_cast<std::uint16_t>(crc_ | b << 8);
            finishFrame(out);
            state_ = 0;
            continue;
        }
        if (!escape_ && b == 0x10) {
            escape_ = true;
            continue;
        }
        if (!escape_) {
            if (state_ == 1)
                content_.push_back(b);
            else
                ++noise_;
            continue;
        }
        escape_ = false;
        if (state_ == 0) {
            if (b == 0x06) {
                out.push_back(control(Incoming::Ack));
            } else if (b == 0x15) {
                out.push_back(control(Incoming::Nak));
            } else if (b == 0x02) {
                content_.clear();
                state_ = 1;
            } else {
                noise_ += 2;
            }
        } else if (b == 0x10) {
            content_.push_back(0x10);
        } else if (b == 0x03) {
            state_ = 2;
        } else {
            Incoming bad = control(Incoming::BadFrame);
            bad.why = "escape";
            out.push_back(bad);
            state_ = 0;
        }
    }
}

void AdapterReader::finishFrame(std::vector<Incoming>& out) {
    Incoming in;
    in.kind = Incoming::BadFrame;
    std::uint16_t crc = crc16ArcUpdate(crc16Arc(content_.data(), content_.size()), 0x03);
    const Bytes& p = content_;
    if (crc != crc_) {
        in.why = "crc";
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
    out.push_back(std::move(in));
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
