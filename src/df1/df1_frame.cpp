#include "df1/df1_frame.h"

#include <algorithm>

#include "df1/crc.h"
#include "support/fail.h"
#include "support/vyjimka.h"

namespace zq {

Df1FrameTx::Df1FrameTx(SerialLine& line) : line_(line) {
    for (auto& frame : frames_) {
        frame[0] = kDle;
        frame[1] = kStx;
    }
}

void Df1FrameTx::build(std::uint8_t address, const std::uint8_t* data, std::uint32_t length) {
    if (!require(length <= kMaxData && (data != nullptr || length == 0), "correct size")) return;
    current_ ^= 1u;
    auto& frame = frames_[current_];
    // The address is never doubled: the adapter reads it positionally, and 0 and 1 are no DLE.
    std::uint32_t n = 2;
    frame[n++] = address;
    std::uint16_t crc = crc16ArcUpdate(0, address);
    for (std::uint32_t i = 0; i < length; ++i) {
        crc = crc16ArcUpdate(crc, data[i]);
        frame[n++] = data[i];
        if (data[i] == kDle) frame[n++] = kDle;
    }
    crc = crc16ArcUpdate(crc, kEtx);
    frame[n++] = kDle;
    frame[n++] = kEtx;
    frame[n++] = static_cast<std::uint8_t>(crc & 0xFFu);
    frame[n++] = static_cast<std::uint8_t>(crc >> 8);
    frameLength_ = n;
}

void Df1FrameTx::send() {
    if (!require(frameLength_ != 0, "expected state")) return;
    line_.send(frames_[current_].data(), frameLength_);
}

Df1FrameRx::Df1FrameRx(SerialLine& line) : line_(line) {
    line_.startRx(raw_.data(), kRawSize, RxMode::EveryChunk);
}

Df1FrameRx::~Df1FrameRx() {
    // The owner normally stopped reception already; then this does nothing.
    try {
        line_.stopRx();
    } catch (CVyjimka* e) {
        reportException(e);
        e->release();
    }
}

void Df1FrameRx::restart(bool noAck, bool ignoreType7) {
    line_.resetRx();
    result_ = kNoFrame;
    escape_ = false;
    scanPos_ = 0;
    ignoreType7_ = ignoreType7;
    ackState_ = noAck ? kAcknowledged : kAwaitingAck;
    state_ = noAck ? kWaitStx : kWaitAck;
}

void Df1FrameRx::awaitNextFrame() {
    line_.discardRx(scanPos_);
    result_ = kNoFrame;
    escape_ = false;
    scanPos_ = 0;
    ignoreType7_ = true;
    ackState_ = kAcknowledged;
    state_ = kWaitStx;
    scan();
}

void Df1FrameRx::onBytes(std::uint32_t) {
    scan();
}

void Df1FrameRx::onLineError() {
    ++counters_.lineErrors;
}

void Df1FrameRx::takeMessage(MemPtr& dest) {
    if (!require(result_ == kGoodFrame && payloadLength_ >= kMinPacket, "expected state")) {
        dest.assign(nullptr, 0);
        return;
    }
    dest.assign(payload_.data() + 4, payloadLength_ - 5);
}

void Df1FrameRx::scan() {
    // Announcements are only a wake-up: the line's own count since the last restart bounds the
    // scan, so bytes of the buffer before a restart are never taken for new ones.
    const std::uint32_t end = std::min(line_.receivedCount(), kRawSize);
    while (state_ < kComplete && scanPos_ < end) {
        scanByte(raw_[scanPos_++]);
        if (state_ == kComplete) evaluateFrame();
    }
}

void Df1FrameRx::scanByte(std::uint8_t byte) {
    if (escape_) {
        escape_ = false;
        escapedByte(byte);
    } else if (state_ < kCrcLow && byte == kDle) {
        escape_ = true;
    } else if (state_ == kContent) {
        appendContent(byte);
    } else if (state_ == kCrcLow) {
        // The CRC after DLE ETX is taken as it comes: the adapter does not double a 0x10 there.
        rxCrc_ = byte;
        state_ = kCrcHigh;
    } else if (state_ == kCrcHigh) {
        rxCrc_ = static_cast<std::uint16_t>(rxCrc_ | (byte << 8));
        state_ = kComplete;
    }
    // Waiting for DLE ACK or DLE STX: anything else on the line is noise.
}

void Df1FrameRx::escapedByte(std::uint8_t byte) {
    switch (state_) {
        case kWaitAck:
            if (byte == kAck) {
                ackState_ = kAcknowledged;
                state_ = kWaitStx;
            } else if (byte == kNak) {
                ackState_ = kRefused;
                state_ = kStopped;
                ++counters_.naks;
            }
            break;
        case kWaitStx:
            if (byte == kStx) {
                payloadLength_ = 0;
                crc_ = 0;
                state_ = kContent;
            }
            break;
        case kContent:
            if (byte == kDle)
                appendContent(kDle);
            else if (byte == kEtx)
                state_ = kCrcLow;
            else
                stopOnError(counters_.badEscapes);
            break;
        default:
            break;
    }
}

void Df1FrameRx::appendContent(std::uint8_t byte) {
    // No reply of the command set fills more than the payload area; longer content is a broken
    // frame, and must not run past the area.
    if (payloadLength_ == kPayloadSize) {
        stopOnError(counters_.badPackets);
        return;
    }
    payload_[payloadLength_++] = byte;
    crc_ = crc16ArcUpdate(crc_, byte);
}

void Df1FrameRx::evaluateFrame() {
    crc_ = crc16ArcUpdate(crc_, kEtx);
    if (crc_ != rxCrc_) {
        stopOnError(counters_.crcErrors);
    } else if (payloadLength_ < kMinPacket) {
        // Too short to be a packet: not worth a retransmission, wait for the next frame.
        state_ = kWaitStx;
        ++counters_.shortFrames;
    } else if (packetChecks(kPacketReply)) {
        result_ = kGoodFrame;
    } else if (!packetChecks(kPacketAdapter)) {
        stopOnError(counters_.badPackets);
    } else if (ignoreType7_) {
        state_ = kWaitStx;
        ++counters_.skippedType7;
    } else {
        result_ = kGoodFrame;
    }
}

bool Df1FrameRx::packetChecks(std::uint32_t type) const {
    if (!require(payloadLength_ >= kMinPacket, "")) return false;
    const std::uint8_t* p = payload_.data();
    if (p[0] != 0x01 || ((p[2] >> 3) & 0x07u) != type) return false;
    if (static_cast<std::uint8_t>(~crc8Wcdma(p, 3)) != p[3]) return false;
    std::uint8_t check = 0;
    for (std::uint32_t i = 4; i + 1 < payloadLength_; ++i) check ^= p[i];
    return check == p[payloadLength_ - 1];
}

void Df1FrameRx::stopOnError(std::uint32_t& counter) {
    state_ = kStopped;
    result_ = kBadFrame;
    ++counter;
}

}  // namespace zq
