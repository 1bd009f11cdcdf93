#pragma once

#include <cstdint>

namespace zq {

// How a reception announces its bytes with WM_COM_RXDATA (notifications.h).
enum class RxMode : std::uint32_t {
    // One notification when the buffer is full, with its length.
    OnComplete = 1,
    // One notification per chunk read, with the chunk's length (the last chunk included).
    EveryChunk = 2,
    // At completion the bytes not yet announced; and 200 ms after startRx, whatever has arrived
    // by then and was not announced.
    CompleteOrFlush = 3,
};

// A serial line as the DF1 layer sees it: whole blocks out, bytes in, into a buffer that the
// caller names, announced through the process-wide notification poster. ComPort implements it;
// tests implement it in memory. Operations that meet an operating-system error throw a
// CVyjimka by pointer (support/vyjimka.h); worker threads report theirs with WM_COM_ERROR.
class SerialLine {
public:
    virtual ~SerialLine() = default;

    virtual void open() = 0;
    // Hands one block to the transmitter and returns at once; the bytes must stay valid until
    // they are written. If a block is still pending, waits until it is written first.
    virtual void send(const std::uint8_t* data, std::uint32_t length) = 0;
    // Starts one reception into buffer (length bytes); called once per reception.
    virtual void startRx(std::uint8_t* buffer, std::uint32_t length, RxMode mode) = 0;
    // The next bytes land at the start of the buffer again.
    virtual void resetRx() = 0;
    // Drops the first count bytes of the buffer (at most those received) and moves the rest to
    // its start, in one step with respect to reception: a receiver that has consumed one frame
    // can make room without losing the bytes that already arrived behind it.
    virtual void discardRx(std::uint32_t count) = 0;
    // Ends the reception; does nothing if none was started.
    virtual void stopRx() = 0;
    // Ends the transmitter; the line can no longer send.
    virtual void stopTx() = 0;
    // True while a block is being written.
    virtual bool isWriting() = 0;
    // Bytes stored in the buffer since the last startRx or resetRx. A receiver that scans only
    // up to this count never mistakes an announcement made before a resetRx for new bytes.
    virtual std::uint32_t receivedCount() = 0;
};

}  // namespace zq
