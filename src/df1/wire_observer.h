#pragma once

#include <cstdint>

#include "df1/transaction.h"

namespace zq {

// Watches what the protocol puts on the line and takes from it, for a trace of a run that a
// support engineer reads after the fact. Called under the protocol's lock, on the GUI thread or
// on the timer thread: an observer must be quick, must not block and must not call back.
class WireObserver {
public:
    virtual ~WireObserver() = default;
    // A frame as it goes out (DLE STX ... CRC); attempt 0 is the first transmission.
    virtual void frameOut(const std::uint8_t* frame, std::uint32_t length,
                          std::uint32_t attempt) = 0;
    // Bytes the receiver has just scanned, in the order they came.
    virtual void bytesIn(const std::uint8_t* bytes, std::uint32_t length) = 0;
    // DLE ACK (refused false) or DLE NAK (refused true) for the frame just sent.
    virtual void acknowledgement(bool refused) = 0;
    // A complete frame: its message (CRC included), or none with what was wrong with it.
    virtual void frameIn(const std::uint8_t* message, std::uint32_t length, const char* fault) = 0;
    // The time-out of the given attempt expired.
    virtual void timeout(std::uint32_t attempt) = 0;
    // The exchange ended in this state.
    virtual void exchangeEnded(TxnState state) = 0;
};

}  // namespace zq
