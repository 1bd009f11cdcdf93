#include "sim/sim_options.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <string>
#include <vector>

namespace zq::sim {

namespace {

constexpr const char* kFaultHelp = R"(
Fault rules (--fault, repeatable):  KIND[,key=value...]
  nak              the adapter answers a good frame with DLE NAK; the target never sees it
  lost-ack         the DLE ACK is lost; the target still executes and answers
  lost-reply       the target's reply (or the channel answer) is lost
  frame-crc        the reply frame's CRC-16 is wrong
  msg-crc          the reply message's CRC is wrong (the frame around it is good)
  bad-header       the adapter packet's header check byte is wrong
  bad-xor          the adapter packet's XOR byte is wrong
  reject           the target answers REJECT (0xF7) and does nothing
  status           the target answers with status value=V (default 2) and does nothing
  garbage          count=N noise bytes (default 8) come before the reply frame
  pieces           the reply leaves in pieces of size=N bytes (default 3), pause-ms=N apart (5)
  double-progress  an ERASE's progress replies leave two in one write
  silence          from the hit on, nothing comes back at all: no ACK, no reply (power lost)
  late-power       the module powers up ms=N (default 6000) after the CONNECT, not --power-on-ms
  weak-cell        a WRITE is stored with bit=N (default 0) of its byte=N (default 0, past the
                   end: the last) flipped; the target answers success as for any WRITE
Which frames a rule hits:
  on=OP            count only these: any (default), channel, connect, erase, uploadinit,
                   write, exec, cmd7, read, idsearch, idread
  level=1|2, ch=0|1  count only commands to a module at that level, or on that channel
  n=N              the N-th counted frame (default n=1)   every=N   every N-th one
  p=P              each counted frame with probability P (0..1), seeded by --seed
A rule counts only the frames it could act on: nak and lost-ack count frames to the target,
reject and status commands to a powered module, double-progress ERASE commands, late-power
the CONNECTs that power a module up, weak-cell the WRITEs whose data is stored; the reply
faults count every frame that asks a reply.
Examples:  --fault nak,on=write,n=2   --fault lost-reply,every=50   --fault frame-crc,p=0.05
           --fault status,on=write,n=3,value=3   --fault silence,n=40
           --fault weak-cell,level=2,n=7,byte=3,bit=5
)";

bool parseNumber(const std::string& text, std::uint64_t& value) {
    const char* begin = text.c_str();
    const char* end = begin + text.size();
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        begin += 2;
        base = 16;
    }
    if (begin == end) return false;
    auto [stop, ec] = std::from_chars(begin, end, value, base);
    return ec == std::errc() && stop == end;
}

// A number in decimal or 0x-hexadecimal, within [low, high].
CLI::Validator numberIn(std::uint64_t low, std::uint64_t high) {
    return CLI::Validator(
        [low, high](std::string& text) -> std::string {
            std::uint64_t value = 0;
            if (!parseNumber(text, value) || value < low || value > high)
                return "expected a number from " + std::to_string(low) + " to " +
                       std::to_string(high) + ", got '" + text + "'";
            return {};
        },
        "NUMBER");
}

template <typename T>
void assign(const std::string& text, T& target) {
    std::uint64_t value = 0;
    if (!text.empty() && parseNumber(text, value)) target = static_cast<T>(value);
}

}  // namespace

std::optional<int> parseOptions(int argc, const char* const* argv, SimConfig& config,
                                std::ostream& out, std::ostream& err) {
    CLI::App app{
        "kvsb-sim: the programming adapter KVSB and the target modules behind it, on a "
        "pseudo-terminal. Prints the terminal's path on the first line of its output and "
        "serves it until SIGINT/SIGTERM, --exit-after or --once.",
        "kvsb-sim"};
    app.footer(kFaultHelp);
    std::string plid, plidA, plidB, l2plid, plidSecond, powerMs, eraseMs, eraseSteps, replyType,
        baud, seed, exitAfter, idleMs, spinUs, inputSpinUs;
    std::vector<std::string> faults;
    constexpr std::uint64_t kU32 = 0xFFFFFFFFu;

    app.add_option("--plid", plid, "Platform identifier of every module (default 0x10000001)")
        ->check(numberIn(0, kU32))
        ->option_text("ID");
    app.add_option("--plid-a", plidA, "Platform identifier of the module on channel 0")
        ->check(numberIn(0, kU32))
        ->option_text("ID");
    app.add_option("--plid-b", plidB, "Platform identifier of the module on channel 1")
        ->check(numberIn(0, kU32))
        ->option_text("ID");
    app.add_option("--l2-plid", l2plid, "What the daemons report at CONNECT level 2")
        ->check(numberIn(0, kU32))
        ->option_text("ID");
    app.add_flag("--second-module", config.secondModule,
                 "Channel 1 reaches a second module after the first one's burn (left/right unit)");
    app.add_option("--plid-second", plidSecond, "Platform identifier of the second module")
        ->check(numberIn(0, kU32))
        ->option_text("ID");
    app.add_option("--power-on-ms", powerMs,
                   "Delay from a module's first CONNECT to its power-on (default 200)")
        ->check(numberIn(0, 3600000))
        ->option_text("MS");
    app.add_option("--erase-ms", eraseMs, "Duration of one ERASE (default 1000)")
        ->check(numberIn(0, 3600000))
        ->option_text("MS");
    app.add_option("--erase-steps", eraseSteps, "Progress replies per ERASE (default 10)")
        ->check(numberIn(1, 100))
        ->option_text("N");
    app.add_flag("--no-read", config.noRead,
                 "The daemons do not serve READ: a READ at level 2 is answered with REJECT");
    app.add_option("--channel-reply-type", replyType,
                   "Packet type of the channel switch answer, 7 or 4 (default 7)")
        ->check(CLI::IsMember({"4", "7"}))
        ->option_text("4|7");
    app.add_option("--baud", baud, "Pace both directions as an 8N1 line at this rate")
        ->check(numberIn(50, 100000000))
        ->option_text("RATE");
    app.add_option("--spin-us", spinUs,
                   "Spin, not sleep, this long before a deadline of the line (default 200)")
        ->check(numberIn(0, 100000))
        ->option_text("US");
    app.add_option("--spin-input-us", inputSpinUs,
                   "After sending, watch the line spinning this long for the PC's answer, so "
                   "that it is taken without a wake-up's delay (default 0: sleep)")
        ->check(numberIn(0, 100000))
        ->option_text("US");
    app.add_option("--fault", faults, "A fault rule (see below); repeatable")
        ->take_all()
        ->option_text("RULE");
    app.add_option("--seed", seed, "Seed of the probabilistic fault rules (default 1)")
        ->check(numberIn(0, UINT64_MAX))
        ->option_text("N");
    app.add_flag("--once", config.once,
                 "Exit when the PC closes the line after its first run (or --idle-ms passes)");
    app.add_option("--exit-after", exitAfter, "Exit after serving this many frames")
        ->check(numberIn(1, UINT64_MAX))
        ->option_text("N");
    app.add_option("--idle-ms", idleMs, "With --once: also end after this long without a byte")
        ->check(numberIn(1, 86400000))
        ->option_text("MS");
    app.add_option("--link", config.link, "Also make FILE a symlink to the terminal")
        ->option_text("FILE");
    app.add_option("--device", config.device, "Serve this serial device instead of a pty")
        ->option_text("PATH");
    app.add_option("--trace", config.tracePath, "Write one JSON line per request and reply")
        ->option_text("FILE");
    app.add_option("--dump", config.dumpDir, "At exit, write each module's memory into DIR")
        ->option_text("DIR");
    app.add_flag("--summary", config.summary, "Print frame, byte and wire-time counts at exit");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e, out, err);
        return code == 0 ? 0 : 2;
    }

    assign(plid, config.plidA);
    assign(plid, config.plidB);
    assign(plid, config.plidSecond);
    assign(plidA, config.plidA);
    assign(plidB, config.plidB);
    assign(plidSecond, config.plidSecond);
    if (!l2plid.empty()) assign(l2plid, config.l2plid.emplace());
    std::uint64_t ms = 0;
    if (!powerMs.empty() && parseNumber(powerMs, ms))
        config.powerOnDelay = millis(static_cast<std::int64_t>(ms));
    if (!eraseMs.empty() && parseNumber(eraseMs, ms))
        config.eraseTime = millis(static_cast<std::int64_t>(ms));
    if (!idleMs.empty() && parseNumber(idleMs, ms))
        config.idleTime = millis(static_cast<std::int64_t>(ms));
    assign(eraseSteps, config.eraseSteps);
    assign(replyType, config.channelReplyType);
    assign(baud, config.baud);
    assign(seed, config.seed);
    assign(spinUs, config.spinMargin);
    assign(inputSpinUs, config.inputSpin);
    assign(exitAfter, config.exitAfter);

    for (const std::string& text : faults) {
        FaultRule rule;
        std::string error;
        if (!parseFaultRule(text, rule, error)) {
            err << "kvsb-sim: --fault " << text << ": " << error << '\n';
            return 2;
        }
        config.faults.push_back(std::move(rule));
    }
    return std::nullopt;
}

}  // namespace zq::sim
