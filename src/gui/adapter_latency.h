#pragma once

namespace zq {

// A latency timer above this costs a burn enough to tell the operator: at 1 or 2 ms a WRITE's
// reply still arrives within a third of the WRITE's own time on the line.
inline constexpr unsigned kLatencyWarnAboveMs = 2;

inline bool latencySlowsBurns(unsigned latencyMs) {
    return latencyMs > kLatencyWarnAboveMs;
}

// What a burn of 1 MiB takes with an adapter of this latency timer, in seconds. A burn is
// stop-and-wait: 2114 WRITEs of 496 bytes, each 5.85 ms on the line at 921600 Bd, and a reply
// too short to fill the adapter's buffer, which the adapter holds until its timer runs out.
double burnSecondsPerMiB(unsigned latencyMs);

// How many times longer than on the line alone a burn takes, rounded.
unsigned burnSlowdown(unsigned latencyMs);

}  // namespace zq
