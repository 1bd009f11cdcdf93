#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "df1/adapter_wire.h"
#include "df1/scripted_line.h"

namespace zq::testing {

// One request as the far side saw it.
struct SeenCommand {
    int channel;
    std::uint8_t opcode;  // 0 for the adapter's channel switch
    std::uint32_t address;
    std::uint32_t length;
    std::uint32_t armedMs;  // the protocol's time-out for it
    int level;              // 1 the boot loader, 2 the daemon
};

// The adapter and two modules (channels 0 and 1) on a scripted line, in memory: it decodes
// every frame that the PC sends and prepares the answer that a healthy target would give; the
// test's pump delivers it. Each module remembers what was written to it. A retransmission
// reaches it on the protocol's timer thread while the pump takes answers on the test's thread,
// so its state is kept under a lock.
class ScriptedTarget {
public:
    enum class Fault { None, Silent, ErrorStatus, NoAnswerAtAll };

    explicit ScriptedTarget(ScriptedLine& line);

    void setPlId(int channel, std::uint32_t l1, std::optional<std::uint32_t> l2 = std::nullopt);
    // The n-th (from 1) request with this opcode on that channel (-1: any) and every later one
    // is answered so (opcode 0: the channel switch).
    void setFault(std::uint8_t opcode, int n, Fault fault, int channel = -1);
    void clearFaults();

    // The next piece of the answer to the last request, if one is due. An erase is answered
    // in two pieces (a progress reply, then the final one), everything else in one.
    std::optional<Bytes> takeAnswer();
    // The protocol's time-out for the last request, noted by the pump.
    void noteArmed(std::uint32_t ms);
    const std::vector<SeenCommand>& commands() const { return commands_; }
    // How many requests of a kind were seen (opcode 0: channel switches).
    std::size_t count(std::uint8_t opcode, int channel = -1) const;
    // The bytes written to a module, by address.
    const std::map<std::uint32_t, std::uint8_t>& memory(int channel) const;
    // The bytes of `length` from `address` as written (0xEE where nothing was).
    std::string bytesAt(int channel, std::uint32_t address, std::uint32_t length) const;

private:
    struct Module {
        std::uint32_t l1 = 0x10000001;
        std::optional<std::uint32_t> l2;
        int level = 1;
        // A CONNECT that comes first after a channel switch finds the module power-cycled, as
        // the operator does between runs: the boot loader answers again.
        bool afterSwitch = false;
        std::map<std::uint32_t, std::uint8_t> memory;
    };
    struct FaultRule {
        std::uint8_t opcode;
        int n;
        int channel;
        Fault fault;
    };

    void onFrame(const Bytes& sent);
    std::vector<Bytes> replyTo(Module& module, const Bytes& m);
    Fault faultFor(std::uint8_t opcode, int channel) const;
    std::size_t countUnlocked(std::uint8_t opcode, int channel) const;

    ScriptedLine& line_;
    mutable std::mutex lock_;
    Module modules_[2];
    int channel_ = 1;
    std::vector<FaultRule> faults_;
    std::vector<SeenCommand> commands_;
    std::vector<Bytes> pieces_;
};

}  // namespace zq::testing
