#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "sim/sim_time.h"

namespace zq::sim {

// One line of the trace: a decoded request or reply, or an event of the simulated hardware.
struct TraceEntry {
    SimTime time = 0;
    std::string dir;  // "pc" (a request), "target" (a reply), "adapter", "sim"
    std::string op;   // "CONNECT", "WRITE", "CHANNEL", "START", "ACK", "NAK", "BAD-FRAME", ...
    std::optional<int> channel;
    std::optional<int> level;
    std::optional<int> opcode;
    std::optional<std::uint32_t> address;
    std::optional<std::uint32_t> length;
    std::optional<int> attempt;
    std::optional<int> status;
    std::optional<int> percent;
    std::optional<std::uint32_t> plid;
    std::string detail;  // why a frame was bad, what an event was
    std::string fault;   // the fault rules applied, joined by '+'; empty: none
};

// Writes one JSON object a line; a null stream writes nothing.
class TraceLog {
public:
    explicit TraceLog(std::ostream* out = nullptr) : out_(out) {}
    void record(const TraceEntry& entry);
    bool enabled() const { return out_ != nullptr; }

private:
    std::ostream* out_;
};

std::string hex32(std::uint32_t value);

}  // namespace zq::sim
