#pragma once

// A serial line in memory for the DF1 fuzz targets: what the PC sends is kept, and the input's
// bytes are stored into the receiver's buffer as the port's receive thread would store them.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "df1/crc.h"
#include "fuzz/image_walk.h"
#include "df1/df1_frame.h"
#include "os/serial_line.h"

namespace zq::fuzz {

class MemoryLine : public SerialLine {
public:
    void open() override {}
    void send(const std::uint8_t* data, std::uint32_t length) override {
        sent.insert(sent.end(), data, data + length);
    }
    void startRx(std::uint8_t* buffer, std::uint32_t length, RxMode) override {
        buffer_ = buffer;
        capacity_ = length;
        count_ = 0;
    }
    void resetRx() override { count_ = 0; }
    void discardRx(std::uint32_t count) override {
        count = std::min(count, count_);
        std::memmove(buffer_, buffer_ + count, count_ - count);
        count_ -= count;
    }
    void stopRx() override {}
    void stopTx() override {}
    bool isWriting() override { return false; }
    std::uint32_t receivedCount() override { return count_; }

    // Stores what fits, as a port whose buffer is full drops the rest.
    std::uint32_t deliver(const std::uint8_t* bytes, std::uint32_t length) {
        const std::uint32_t n = std::min(length, capacity_ - count_);
        if (n != 0) std::memcpy(buffer_ + count_, bytes, n);
        count_ += n;
        return n;
    }

    std::vector<std::uint8_t> sent;

private:
    std::uint8_t* buffer_ = nullptr;
    std::uint32_t capacity_ = 0;
    std::uint32_t count_ = 0;
};

// The adapter's frame around a message: the packet (header with CRC-8, message, XOR byte) in a
// DF1 frame. flaws bit 0..3 break the header check, the XOR, the frame CRC, the DLE doubling.
inline std::vector<std::uint8_t> adapterFrame(const std::uint8_t* message, std::size_t length,
                                              std::uint8_t type, std::uint8_t flaws) {
    std::vector<std::uint8_t> packet{0x01, 0x00, static_cast<std::uint8_t>(type << 3)};
    packet.push_back(static_cast<std::uint8_t>(~crc8Wcdma(packet.data(), 3) ^ (flaws & 1)));
    std::uint8_t check = 0;
    for (std::size_t i = 0; i < length; ++i) check ^= message[i];
    packet.insert(packet.end(), message, message + length);
    packet.push_back(static_cast<std::uint8_t>(check ^ ((flaws >> 1) & 1)));
    std::vector<std::uint8_t> frame{kDle, kStx};
    for (std::uint8_t b : packet) {
        frame.push_back(b);
        if (b == kDle && (flaws & 8) == 0) frame.push_back(kDle);
    }
    frame.push_back(kDle);
    frame.push_back(kEtx);
    const std::uint16_t crc = static_cast<std::uint16_t>(
        crc16ArcUpdate(crc16Arc(packet.data(), packet.size()), kEtx) ^ ((flaws >> 2) & 1));
    frame.push_back(static_cast<std::uint8_t>(crc));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

}  // namespace zq::fuzz
