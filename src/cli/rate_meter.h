#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace zq::cli {

// The rate of a count over its last few seconds, and the time its remainder takes at that rate.
// Only recent seconds count: the start of a run (the connect, reading the images) and a stall
// that has passed say nothing about the minutes ahead.
class RateMeter {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::milliseconds kWindow{5000};
    // A rate over less than this is noise (one reply more or less).
    static constexpr std::chrono::milliseconds kMinSpan{1000};

    void restart() { samples_.clear(); }
    // The count as it stands at `now`; times never go back.
    void add(Clock::time_point now, std::uint64_t done);
    // Bytes a second over the window; none until it spans kMinSpan with the count moving.
    std::optional<double> bytesPerSecond() const;
    // Whole seconds (rounded up) until `total` at that rate; 0 once it is reached.
    std::optional<std::uint64_t> secondsLeft(std::uint64_t total) const;

private:
    struct Sample {
        Clock::time_point time;
        std::uint64_t done;
    };
    std::deque<Sample> samples_;
};

// "m:ss", minutes without a limit.
std::string minutesSeconds(std::uint64_t seconds);

}  // namespace zq::cli
