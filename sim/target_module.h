#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/df1_codec.h"
#include "sim/fault_rules.h"
#include "sim/memory_map.h"
#include "sim/sim_time.h"
#include "sim/sparse_memory.h"
#include "sim/trace_log.h"

namespace zq::sim {

// Opcodes of the command set that the boot loader (L1) and the daemon (L2) share.
namespace op {
inline constexpr std::uint8_t kConnect = 0x01;
inline constexpr std::uint8_t kErase = 0x02;
inline constexpr std::uint8_t kUploadInit = 0x03;
inline constexpr std::uint8_t kWrite = 0x04;
inline constexpr std::uint8_t kExec = 0x06;
inline constexpr std::uint8_t kCmd7 = 0x07;
inline constexpr std::uint8_t kRead = 0x08;
inline constexpr std::uint8_t kIdSearch = 0x09;
inline constexpr std::uint8_t kIdRead = 0x0A;
inline constexpr std::uint8_t kReject = 0xF7;
}  // namespace op

// Status bytes of this simulator's targets. 1 is success on every target; the failure codes are
// the simulator's own (the program only distinguishes 1 from the rest).
namespace status {
inline constexpr std::uint8_t kOk = 0x01;
inline constexpr std::uint8_t kNotInMap = 0x02;      // outside the map, or the wrong kind of range
inline constexpr std::uint8_t kNotErased = 0x03;     // flash byte not erased (or holds other data)
inline constexpr std::uint8_t kOutsideBlock = 0x04;  // WRITE outside the announced block
inline constexpr std::uint8_t kNoCode = 0x05;        // EXEC where nothing was uploaded
inline constexpr std::uint8_t kFailed = 0xFF;  // the short error form of READ, IDREAD, IDSEARCH
}  // namespace status

// Why a request was answered with REJECT (the byte after the rejected opcode).
namespace reject {
inline constexpr std::uint8_t kUnknown = 1;     // no such command at this level
inline constexpr std::uint8_t kMalformed = 2;   // bad message CRC or size
inline constexpr std::uint8_t kOutOfState = 3;  // e.g. WRITE without UPLOADINIT
inline constexpr std::uint8_t kBusy = 4;        // an erase is running
inline constexpr std::uint8_t kInjected = 5;    // a fault rule
}  // namespace reject

const char* opcodeName(std::uint8_t opcode);

// A reply leaving a module, with what the trace should say about it.
struct Reply {
    Bytes message;
    TraceEntry trace;
};

// What a module needs from the simulator around it.
class ModuleHost {
public:
    virtual ~ModuleHost() = default;
    virtual SimTime now() const = 0;
    virtual void schedule(SimTime at, std::function<void()> action) = 0;
    // Replies that leave the module in one write (usually one).
    virtual void emit(class TargetModule& module, std::vector<Reply> replies) = 0;
};

// How the fault rules bend the handling of one command.
struct CommandFaults {
    bool reject = false;
    std::optional<std::uint8_t> status;  // answer with this status and do nothing
    bool doubleProgress = false;         // erase progress replies leave two to a write
    // Asked only where a WRITE's data is about to be stored, so that a weak-cell rule counts
    // those WRITEs alone: the rule that hits this one, or nullptr.
    std::function<const FaultRule*()> weakCell;
};

struct ModuleSetup {
    std::string name;  // "ch0", "ch1", "ch1-second"
    int channel = 1;
    std::uint32_t plID = 0;    // what the boot loader reports
    std::uint32_t l2plID = 0;  // what the daemon reports
    SimTime eraseTime = millis(1000);
    unsigned eraseSteps = 10;
    bool daemonReads = true;  // false: a daemon built without READ, which it rejects
};

// One target module: its boot loader, and after EXEC its L2 daemon, over a sparse memory laid
// out by the platform's memory map.
class TargetModule {
public:
    TargetModule(ModuleHost& host, ModuleSetup setup);

    const ModuleSetup& setup() const { return setup_; }
    const MemoryMap& map() const { return map_; }
    const SparseMemory& memory() const { return memory_; }

    // 0 while unpowered, 1 with the boot loader running, 2 with the daemon running.
    int level() const { return level_; }
    // Powered and untouched since: nothing uploaded, nothing started. A CONNECT to a module
    // that is no longer fresh at the start of a run means that the operator cycled its power.
    bool fresh() const { return level_ == 1 && fresh_; }
    // The daemon has written flash or Aux memory (a burn has taken place).
    bool burned() const { return burned_; }
    bool erasing() const { return eraseActive_; }
    bool awaitingPower() const { return level_ == 0 && pendingConnect_; }

    void powerOff();
    void powerOn();

    // A request message (CRC included) as the adapter delivers it.
    void handle(const Bytes& message, const CommandFaults& faults);

    // The byte that unwritten memory of a range reads as.
    static std::uint8_t background(RangeKind kind) { return kind == RangeKind::Ram ? 0x00 : 0xFF; }

private:
    void answer(Bytes message, TraceEntry trace);
    void answerReject(std::uint8_t opcode, std::uint8_t reason, const char* detail);
    void answerWithStatus(const Bytes& request, std::uint8_t status);

    void doConnect();
    void doErase(const Bytes& m, bool doubleProgress);
    void doUploadInit(const Bytes& m);
    void doWrite(const Bytes& m, const CommandFaults& faults);
    void doExec(const Bytes& m);
    void doRead(const Bytes& m);
    void doIdSearch(const Bytes& m);
    void doIdRead(const Bytes& m);
    void eraseStep(std::uint64_t generation, unsigned step);

    std::uint8_t writeStatus(const MapRange& range, Address address, const Bytes& data,
                             std::size_t offset, std::size_t length) const;
    std::vector<Bytes> chipIds(std::uint8_t selector) const;

    ModuleHost& host_;
    ModuleSetup setup_;
    MemoryMap map_;
    SparseMemory memory_;
    SpanSet erased_;  // flash bytes erased and not written since

    int level_ = 0;
    bool fresh_ = false;
    bool burned_ = false;
    bool pendingConnect_ = false;
    std::optional<Span> block_;  // the block of the last UPLOADINIT

    bool eraseActive_ = false;
    std::uint64_t eraseGeneration_ = 0;
    Span eraseSpan_;
    bool eraseDouble_ = false;
    std::vector<Reply> heldProgress_;
};

}  // namespace zq::sim
