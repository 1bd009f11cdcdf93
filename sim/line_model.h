#pragma once

#include <cstdint>
#include <deque>
#include <optional>

#include "sim/df1_codec.h"
#include "sim/sim_time.h"

namespace zq::sim {

// The serial line between the PC and the adapter. Without a baud rate the bytes pass as fast
// as the pseudo-terminal carries them; with one, both directions take the time that 8N1 (ten
// bits a byte) needs at that rate: bytes from the PC count as received only once their wire
// time has passed, and bytes to the PC leave no faster than the line could carry them.
class LineModel {
public:
    explicit LineModel(std::uint32_t baud = 0) : baud_(baud) {}

    // Wire time of n bytes at a rate, rounded up to whole microseconds.
    static SimTime wireTime(std::uint64_t bytes, std::uint32_t baud);

    // When bytes that the PC wrote at `arrival` have all come in.
    SimTime received(std::size_t count, SimTime arrival);

    // Queues bytes for the PC; they go out after everything queued before them, and not before
    // `notBefore` (a pause inside a reply delivered in pieces).
    void send(Bytes bytes, SimTime notBefore);
    // When the next queued bytes are due, if any are queued.
    std::optional<SimTime> nextDue() const;
    // Bytes due at `now`, in order. Each chunk taken counts `now` minus its due time as lag:
    // how late the serving loop let it leave against the line.
    Bytes takeDue(SimTime now);
    bool idle() const { return queue_.empty(); }

    std::uint64_t bytesFromPc() const { return bytesFromPc_; }
    std::uint64_t bytesToPc() const { return bytesToPc_; }
    std::uint32_t baud() const { return baud_; }
    SimTime lagTotal() const { return lagTotal_; }
    SimTime lagMax() const { return lagMax_; }
    std::uint64_t chunksSent() const { return chunksSent_; }

private:
    struct Item {
        Bytes bytes;
        SimTime notBefore;
    };
    SimTime dueOf(const Item& item) const;

    std::uint32_t baud_;
    std::deque<Item> queue_;
    SimTime rxFree_ = 0;
    SimTime txFree_ = 0;
    std::uint64_t bytesFromPc_ = 0;
    std::uint64_t bytesToPc_ = 0;
    SimTime lagTotal_ = 0;
    SimTime lagMax_ = 0;
    std::uint64_t chunksSent_ = 0;
};

}  // namespace zq::sim
