#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "df1/adapter_wire.h"
#include "df1/scripted_line.h"
#include "sim/target_module.h"

namespace zq::testing {

// One request as the far side saw it.
struct SeenCommand {
    int channel;
    std::uint8_t opcode;  // 0 for the adapter's channel switch
    std::uint32_t address;
    std::uint32_t length;
    std::uint32_t armedMs;  // the protocol's time-out for it
    int level;              // 1 the boot loader, 2 the daemon
    bool repeat = false;    // the frame before it again: a retransmission
};

// The adapter and kvsb-sim's target modules on channels 0 and 1, in memory, with what a test
// scripts on top: a reply withheld, an error status, no answer at all. The test's pump takes
// the answers piece by piece; a retransmission reaches it on the protocol's timer thread, so
// its state is kept under a lock.
class ScriptedTarget : private sim::ModuleHost {
public:
    // WeakCell: stored with bit 0 of its first byte changed, answered as a good WRITE.
    enum class Fault { None, Silent, ErrorStatus, NoAnswerAtAll, WeakCell };

    ScriptedTarget();
    // Answers every frame sent on the line.
    explicit ScriptedTarget(ScriptedLine& line);
    ~ScriptedTarget() override;

    // daemonReads false: the module's daemon rejects READ.
    void setPlID(int channel, std::uint32_t l1, std::optional<std::uint32_t> l2 = std::nullopt,
                 bool daemonReads = true);
    // The n-th (from 1) request with this opcode on that channel (-1: any) and every later one
    // is answered so (opcode 0: the channel switch).
    void setFault(std::uint8_t opcode, int n, Fault fault, int channel = -1) {
        std::lock_guard<std::mutex> guard(lock_);
        faults_.push_back({opcode, n, channel, fault});
    }
    void clearFaults() {
        std::lock_guard<std::mutex> guard(lock_);
        faults_.clear();
    }

    // Starts a module's daemon without the PC, for tests of what runs on it.
    void startDaemon(int channel);

    void onFrame(const PcFrame& frame);
    // The next piece of the answer to the last request, if one is due; an erase's progress
    // replies come as pieces of their own.
    std::optional<Bytes> takeAnswer();
    // The protocol's time-out for the last request, noted by the pump.
    void noteArmed(std::uint32_t ms) {
        std::lock_guard<std::mutex> guard(lock_);
        if (!commands_.empty()) commands_.back().armedMs = ms;
    }
    std::vector<SeenCommand> commands() const {
        std::lock_guard<std::mutex> guard(lock_);
        return commands_;
    }
    // How many requests of a kind were seen, retransmissions not counted (opcode 0: channel
    // switches).
    std::size_t count(std::uint8_t opcode, int channel = -1) const {
        std::lock_guard<std::mutex> guard(lock_);
        return countUnlocked(opcode, channel);
    }
    // The bytes of `length` from `address` as written (0xEE where nothing was).
    std::string bytesAt(int channel, std::uint32_t address, std::uint32_t length) const;

private:
    sim::SimTime now() const override { return 0; }
    void schedule(sim::SimTime at, std::function<void()> action) override;
    void emit(sim::TargetModule& module, std::vector<sim::Reply> replies) override;
    Fault faultFor(std::uint8_t opcode, int channel) const;
    void stepIfIdle();
    std::size_t countUnlocked(std::uint8_t opcode, int channel) const;

    struct FaultRule {
        std::uint8_t opcode;
        int n;
        int channel;
        Fault fault;
    };

    mutable std::mutex lock_;
    std::unique_ptr<sim::TargetModule> modules_[2];
    std::optional<std::uint32_t> l2_[2];
    bool afterSwitch_[2] = {false, false};
    int channel_ = 1;
    PcFrame last_;
    bool withhold_ = false;
    std::vector<FaultRule> faults_;
    std::vector<SeenCommand> commands_;
    std::deque<Bytes> pieces_;
    std::multimap<sim::SimTime, std::function<void()>> scheduled_;
};

}  // namespace zq::testing
