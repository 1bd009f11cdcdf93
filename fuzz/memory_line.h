#pragma once

// A serial line in memory for the DF1 fuzz targets: what the PC sends is kept, and the input's
// bytes are stored into the receiver's buffer as the port's receive thread would store them.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "df1/df1_frame.h"
#include "fuzz/image_walk.h"
#include "os/serial_line.h"
#include "sim/df1_codec.h"

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

// The adapter's frame around a message, made by kvsb-sim's codec. flaws bit 0..3 break the
// header check, the XOR, the frame CRC, the DLE doubling.
inline std::vector<std::uint8_t> adapterFrame(const std::uint8_t* message, std::size_t length,
                                              std::uint8_t type, std::uint8_t flaws) {
    sim::Bytes packet = sim::buildPacket(type, 0, 0, sim::Bytes(message, message + length));
    packet[3] ^= flaws & 1;
    packet.back() ^= (flaws >> 1) & 1;
    sim::Bytes frame = sim::buildAdapterFrame(packet);
    if (flaws & 4) sim::corruptFrameCrc(frame);
    const auto doubled = std::adjacent_find(frame.begin() + 2, frame.end() - 4,
                                            [](auto a, auto b) { return a == kDle && b == kDle; });
    if ((flaws & 8) && doubled != frame.end() - 4) frame.erase(doubled);
    return frame;
}

}  // namespace zq::fuzz
