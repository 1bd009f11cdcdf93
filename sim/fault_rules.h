#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace zq::sim {

// What a scripted fault does to the line. Each rule names one kind and which of the frames it
// could hit it does hit.
enum class FaultKind {
    Nak,             // the adapter refuses a good frame with DLE NAK; the target never sees it
    LostAck,         // the DLE ACK is lost; the target still gets and answers the command
    LostReply,       // the reply is lost (the ACK came)
    FrameCrc,        // the reply frame's CRC-16/ARC is wrong
    MessageCrc,      // the reply message's CRC-16/GENIBUS is wrong (the frame itself is good)
    BadHeader,       // the adapter packet's header check byte is wrong
    BadXor,          // the adapter packet's XOR byte is wrong
    Reject,          // the target answers REJECT and does nothing
    Status,          // the target answers with a status other than 1 and does nothing
    Garbage,         // noise bytes on the line before the reply frame
    Pieces,          // the reply leaves in small pieces with pauses between them
    DoubleProgress,  // erase progress replies leave two to a write
    Silence,         // from the hit on, nothing more comes back: no ACK, no reply (power lost)
    LatePower,       // the module powers up only after a long delay
    WeakCell,        // a WRITE is stored with one bit wrong; the target still reports success
};

const char* faultKindName(FaultKind kind);

// One rule as given on the command line:  KIND[,key=value...]
//   on=OP       what counts: any (default), channel, connect, erase, uploadinit, write, exec,
//               cmd7, read, idsearch, idread
//   level=1|2   only commands to a module at this level
//   ch=0|1      only frames on this channel
//   n=N         hit the N-th counted frame (default: n=1)
//   every=N     hit every N-th counted frame
//   p=P         hit each counted frame with probability P (seeded by --seed)
//   value=V     status: the status byte (default 2)
//   count=N     garbage: number of noise bytes (default 8)
//   size=N      pieces: bytes per piece (default 3)
//   pause-ms=N  pieces: pause between pieces (default 5)
//   ms=N        late-power: the power-on delay (default 6000)
//   byte=N      weak-cell: the byte of the WRITE's data (default 0; past its end: the last)
//   bit=N       weak-cell: the bit of that byte stored wrong, 0..7 (default 0)
struct FaultRule {
    FaultKind kind = FaultKind::Nak;
    std::string text;
    std::string on = "any";
    int level = 0;     // 0: any
    int channel = -1;  // -1: any
    enum class When { Nth, Every, Probability } when = When::Nth;
    std::uint64_t n = 1;
    double probability = 0;
    std::uint8_t status = 2;
    std::uint32_t count = 8;
    std::uint32_t pieceSize = 3;
    std::uint32_t pauseMs = 5;
    std::uint32_t ms = 6000;
    std::uint32_t cellByte = 0;
    std::uint8_t cellBit = 0;

    std::uint64_t counted = 0;  // frames this rule has counted so far
    bool latched = false;       // silence stays once it began
};

// Parses one rule; on failure `error` says what is wrong.
bool parseFaultRule(std::string_view text, FaultRule& rule, std::string& error);

// What a counted frame is, for the rules' filters.
struct FrameFacts {
    std::string_view op;  // "channel", "connect", ... ; "unknown" for anything else
    int level = 0;        // level of the module addressed (0: not powered, or channel switch)
    int channel = 0;
};

// The rules of one run. `hit` is asked only where a rule of that kind could take effect, so a
// rule's N counts the frames it could have hit (a lost-ack rule counts frames with address 1,
// a double-progress rule counts ERASE commands, a late-power rule counts power-ups, a weak-cell
// rule counts the WRITEs whose data is stored).
class FaultPlan {
public:
    FaultPlan() = default;
    FaultPlan(std::vector<FaultRule> rules, std::uint64_t seed);

    // The first rule of this kind that hits the frame, or nullptr. Every rule of the kind whose
    // filter takes the frame counts it.
    const FaultRule* hit(FaultKind kind, const FrameFacts& facts);
    bool empty() const { return rules_.empty(); }

private:
    bool decide(FaultRule& rule);

    std::vector<FaultRule> rules_;
    std::mt19937_64 random_;
};

}  // namespace zq::sim
