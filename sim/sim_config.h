#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/fault_rules.h"
#include "sim/sim_time.h"

namespace zq::sim {

// Everything the command line of kvsb-sim sets.
struct SimConfig {
    std::uint32_t plidA = 0x10000001;     // channel 0
    std::uint32_t plidB = 0x10000001;     // channel 1
    std::optional<std::uint32_t> l2plid;  // what the daemons report; default: their L1 plID
    bool secondModule = false;
    std::uint32_t plidSecond = 0x10000001;

    SimTime powerOnDelay = millis(200);
    SimTime eraseTime = millis(1000);
    unsigned eraseSteps = 10;
    bool noRead = false;  // the daemons reject READ (the boot loader still serves it)
    std::uint8_t channelReplyType = 7;
    std::uint32_t baud = 0;    // 0: not paced
    SimTime spinMargin = 200;  // the last stretch before a deadline is spun, not slept
    SimTime inputSpin = 0;     // after bytes went out, the line is watched spinning this long

    std::vector<FaultRule> faults;
    std::uint64_t seed = 1;

    bool once = false;
    std::uint64_t exitAfter = 0;  // 0: no limit
    SimTime idleTime = 0;         // --once: also end after this long without a byte; 0: off

    std::string link;
    std::string device;
    std::string tracePath;
    std::string dumpDir;
    bool summary = false;
};

// The rate that the summary states wire times at when the line is not paced: the program's own.
inline constexpr std::uint32_t kProgramBaud = 921600;

}  // namespace zq::sim
