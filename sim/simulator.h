#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "sim/df1_codec.h"
#include "sim/fault_rules.h"
#include "sim/line_model.h"
#include "sim/scheduler.h"
#include "sim/sim_config.h"
#include "sim/target_module.h"
#include "sim/trace_log.h"

namespace zq::sim {

struct SimStats {
    std::uint64_t channelFrames = 0;
    std::uint64_t commandFrames = 0;
    std::uint64_t badFrames = 0;
    std::uint64_t repeatedFrames = 0;  // a frame identical to the one before it on its channel
    std::uint64_t acks = 0;
    std::uint64_t naks = 0;
    std::uint64_t replies = 0;
    std::uint64_t lostReplies = 0;  // replies that never left (a fault, or off the line)
    std::uint64_t faults = 0;
};

// The adapter KVSB and the modules behind it, driven by bytes and time from outside: the
// program's loop (or a test) feeds what the PC wrote, advances the time, and takes what the
// adapter sends back. Nothing here reads a clock or touches a file descriptor.
class Simulator : private ModuleHost {
public:
    Simulator(const SimConfig& config, std::ostream* trace);
    ~Simulator() override;
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Bytes that the PC wrote, read at `arrival`.
    void input(const std::uint8_t* data, std::size_t length, SimTime arrival);
    // The PC closed its end of the line.
    void hangup(SimTime now);
    // Runs everything due by `now`.
    void advance(SimTime now);
    // The bytes due for the PC by `now`.
    Bytes takeOutput(SimTime now);
    // When something is next due (nothing: wait for the PC).
    std::optional<SimTime> nextDeadline() const;
    // --once or --exit-after reached, with nothing left to send.
    bool finished(SimTime now) const;

    const SimStats& stats() const { return stats_; }
    const LineModel& line() const { return line_; }
    std::uint64_t commandsServed() const { return served_; }
    // Modules in dump order: channel 0, channel 1, then the second module of channel 1.
    std::vector<const TargetModule*> modules() const;

    std::string summary(SimTime now) const;
    bool writeDump(const std::filesystem::path& dir, std::string& error) const;

private:
    struct ReplyFaults {
        bool lost = false;
        bool frameCrc = false;
        bool messageCrc = false;
        bool badHeader = false;
        bool badXor = false;
        std::uint32_t garbage = 0;
        std::uint32_t pieceSize = 0;
        std::uint32_t pauseMs = 0;
        std::string names;
    };
    struct Connector {
        bool powering = false;
        std::uint64_t generation = 0;
    };

    // ModuleHost
    SimTime now() const override { return now_; }
    void schedule(SimTime at, std::function<void()> action) override;
    void emit(TargetModule& module, std::vector<Reply> replies) override;

    void onBytes(const Bytes& bytes);
    void onFrame(const DecodedFrame& decoded);
    void onChannelFrame(const PcFrame& frame);
    void onTargetFrame(const PcFrame& frame);
    void preparePower(TargetModule& module, const FrameFacts& facts, std::string& faults);
    CommandFaults commandFaults(const Bytes& message, const FrameFacts& facts, std::string& names);
    ReplyFaults replyFaults(const FrameFacts& facts);
    void sendFrames(const std::vector<Bytes>& frames, const ReplyFaults& faults);
    Bytes frameReply(Bytes message, std::uint8_t type, const ReplyFaults& faults);

    TargetModule* moduleOn(int channel) const;
    int connectorOf(const TargetModule& module) const;
    void powerCycle(int connector);
    void powerUp(int connector, SimTime delay, const std::string& fault);
    int attemptOf(int channel, const PcFrame& frame);

    SimConfig config_;
    TraceLog trace_;
    LineModel line_;
    Scheduler scheduler_;
    FaultPlan faults_;
    PcFrameDecoder decoder_;

    std::vector<std::unique_ptr<TargetModule>> modules_;  // ch0, ch1, [ch1-second]
    std::array<Connector, 2> connectors_{};
    std::map<const TargetModule*, ReplyFaults> pendingFaults_;
    std::map<const TargetModule*, bool> afterSwitch_;
    bool secondActive_ = false;

    int channel_ = 1;
    std::array<Bytes, 2> lastFrame_{};
    std::array<int, 2> lastAttempt_{};
    std::uint8_t sequence_ = 0;

    SimTime now_ = 0;
    SimTime lastInput_ = 0;
    bool hungUp_ = false;
    bool silenced_ = false;
    std::uint64_t served_ = 0;
    SimStats stats_;
};

}  // namespace zq::sim
