#pragma once

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "script_client.h"
#include "sim/simulator.h"

namespace zq::sim::testing {

// A simulator driven in simulated time, with the scripted PC on the other end. Nothing sleeps:
// an erase of seconds passes in microseconds of real time.
class SimHarness {
public:
    explicit SimHarness(const SimConfig& config);

    Simulator& sim() { return sim_; }

    // Bytes from the PC.
    void send(const Bytes& bytes);
    // Lets `span` of time pass, collecting what the adapter sends.
    void runFor(SimTime span);
    // Lets time pass until `done` holds for what arrived (checked after each output), or until
    // `limit` has passed; gives whether it held.
    bool runUntil(const std::function<bool(const std::vector<Incoming>&)>& done,
                  SimTime limit = millis(60000));

    // Everything received since the last take.
    std::vector<Incoming> take();
    // The output as it left: (time, bytes) per write.
    const std::vector<std::pair<SimTime, Bytes>>& writes() const { return writes_; }

    // Sends a frame and waits for the first reply frame (good or bad). Gives the reply's
    // message, or an empty one when nothing came.
    Bytes firstReply(const Bytes& frame, SimTime limit);
    Bytes command(const Bytes& request, SimTime limit = millis(60000)) {
        return firstReply(pcFrame(1, request), limit);
    }
    // Sends the channel switch and gives the answer's message.
    Bytes switchChannel(int channel) { return firstReply(channelFrame(channel), millis(1000)); }
    // Runs an erase to its end; gives the percents reported.
    std::vector<int> erase(std::uint32_t address, std::uint32_t length);

    // Bytes outside frames and control sequences (noise) seen so far.
    std::uint64_t noise() const { return reader_.noise(); }

    // Trace lines that contain every one of the fragments.
    std::vector<std::string> traceWith(std::initializer_list<std::string> fragments) const;

private:
    void collect();

    std::ostringstream trace_;
    Simulator sim_;
    SimTime now_ = 0;
    AdapterReader reader_;
    std::vector<Incoming> received_;
    std::size_t taken_ = 0;
    std::vector<std::pair<SimTime, Bytes>> writes_;
};

bool hasFrame(const std::vector<Incoming>& in);

}  // namespace zq::sim::testing
