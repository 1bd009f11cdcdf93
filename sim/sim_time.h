#pragma once

#include <cstdint>

namespace zq::sim {

// Microseconds since the simulator started. The simulator's logic never reads a clock itself:
// the loop hands it the time, so tests can drive it through hours of erase in no time at all.
using SimTime = std::int64_t;

inline constexpr SimTime kMicrosPerMs = 1000;

inline constexpr SimTime millis(std::int64_t ms) {
    return ms * kMicrosPerMs;
}

}  // namespace zq::sim
