#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zq::sim::testing {

// The PC's side of the line as the tests script it, written from the byte layouts of the wire
// and not from the simulator's code: requests, the DF1 frames around them, and a reader of
// what the adapter sends back.

using Bytes = std::vector<std::uint8_t>;

// A command message: opcode, 0, the fields, CRC-16/GENIBUS most significant byte first.
Bytes message(std::uint8_t opcode, const Bytes& fields = {});
void putLe(Bytes& out, std::uint32_t value, int width);
std::uint32_t getLe(const Bytes& in, std::size_t at, int width);

Bytes connectRequest();
Bytes eraseRequest(std::uint32_t address, std::uint32_t length);
Bytes uploadInitRequest(std::uint32_t address, std::uint32_t length);
Bytes writeRequest(std::uint32_t address, const Bytes& data);
Bytes execRequest(std::uint32_t address);
Bytes readRequest(std::uint32_t address, std::uint16_t length);

// The PC's frame: DLE STX, address, data with each DLE doubled, DLE ETX, CRC-16/ARC low first.
Bytes pcFrame(std::uint8_t address, const Bytes& data);
Bytes channelFrame(int channel);

// One thing the adapter sent.
struct Incoming {
    enum Kind { Ack, Nak, Frame, BadFrame } kind = Ack;
    int type = -1;    // packet type of a frame
    Bytes message;    // the message inside the packet
    std::string why;  // BadFrame: "crc", "header", "xor", "short", "escape"
    bool messageCrcGood = false;
};

// Reads the adapter's byte stream in pieces of any size.
class AdapterReader {
public:
    void feed(const Bytes& bytes, std::vector<Incoming>& out);
    std::uint64_t noise() const { return noise_; }

private:
    void finishFrame(std::vector<Incoming>& out);

    int state_ = 0;  // 0 outside a frame, 1 content, 2 first CRC byte, 3 second CRC byte
    bool escape_ = false;
    Bytes content_;
    std::uint16_t crc_ = 0;
    std::uint64_t noise_ = 0;
};

std::string hex(const Bytes& bytes);

}  // namespace zq::sim::testing
