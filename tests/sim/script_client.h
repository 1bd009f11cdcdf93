#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/df1_codec.h"

namespace zq::sim::testing {

// The PC's side of the line as the tests script it: requests written from the byte layouts of
// the command set, on kvsb-sim's DF1 codec, and a reader of what the adapter sends back.

using Bytes = sim::Bytes;

// A command message: opcode, 0, the fields, CRC-16/GENIBUS most significant byte first.
Bytes message(std::uint8_t opcode, const Bytes& fields = {});
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
    std::string why;  // BadFrame: the decoder's reason, or "header", "xor", "short"
    bool messageCrcGood = false;
};

// Reads the adapter's byte stream in pieces of any size.
class AdapterReader {
public:
    void feed(const Bytes& bytes, std::vector<Incoming>& out);
    std::uint64_t noise() const { return decoder_.strayBytes() - controls_; }

private:
    static Incoming packetOf(const DecodedFrame& frame);

    PcFrameDecoder decoder_;
    std::uint64_t controls_ = 0;  // bytes of DLE ACK and DLE NAK
};

std::string hex(const Bytes& bytes);

}  // namespace zq::sim::testing
