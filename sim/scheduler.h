#pragma once

#include <functional>
#include <map>
#include <optional>

#include "sim/sim_time.h"

namespace zq::sim {

// Timed actions of the simulated hardware, run in time order; actions due at the same time run
// in the order they were scheduled.
class Scheduler {
public:
    void at(SimTime time, std::function<void()> action) { queue_.emplace(time, std::move(action)); }
    std::optional<SimTime> next() const {
        if (queue_.empty()) return std::nullopt;
        return queue_.begin()->first;
    }
    bool empty() const { return queue_.empty(); }

    // Runs the earliest action if it is due by `now`; gives its time.
    std::optional<SimTime> runOne(SimTime now) {
        if (queue_.empty() || queue_.begin()->first > now) return std::nullopt;
        auto node = queue_.extract(queue_.begin());
        node.mapped()();
        return node.key();
    }

private:
    std::multimap<SimTime, std::function<void()>> queue_;
};

}  // namespace zq::sim
