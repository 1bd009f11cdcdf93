#include "cli/rate_meter.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace zq::cli {

namespace {

// Samples closer than this are merged: a reply every few milliseconds would otherwise keep
// thousands of them in the window.
constexpr std::chrono::milliseconds kSpacing{100};

}  // namespace

void RateMeter::add(Clock::time_point now, std::uint64_t done) {
    const std::size_t n = samples_.size();
    if (n >= 2 && now - samples_[n - 2].time < kSpacing)
        samples_.back() = {now, done};
    else
        samples_.push_back({now, done});
    // The oldest sample kept is the last one at or before the window's start.
    while (samples_.size() >= 2 && samples_[1].time <= now - kWindow) samples_.pop_front();
}

std::optional<double> RateMeter::bytesPerSecond() const {
    if (samples_.size() < 2) return std::nullopt;
    const Sample& first = samples_.front();
    const Sample& last = samples_.back();
    const auto span = last.time - first.time;
    if (span < kMinSpan || last.done <= first.done) return std::nullopt;
    return static_cast<double>(last.done - first.done) /
           std::chrono::duration<double>(span).count();
}

std::optional<std::uint64_t> RateMeter::secondsLeft(std::uint64_t total) const {
    if (!samples_.empty() && samples_.back().done >= total) return 0;
    const std::optional<double> rate = bytesPerSecond();
    if (!rate) return std::nullopt;
    return static_cast<std::uint64_t>(
        std::ceil(static_cast<double>(total - samples_.back().done) / *rate));
}

std::string minutesSeconds(std::uint64_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu:%02u", static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned>(seconds % 60));
    return text;
}

}  // namespace zq::cli
