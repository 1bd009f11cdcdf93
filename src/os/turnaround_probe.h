#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace zq {

// The program's own share of a stop-and-wait exchange, for benchmarks: from the receive
// thread's read that completed a reply to the transmit thread's write of the next request.
// Off unless the environment variable ZQ_TURNAROUND_LOG names a file; then the port records
// each turnaround into an array allocated up front and, when it is destroyed, appends their
// count, median, 99th percentile and maximum to that file. Off, it costs one test a read and
// a write.
class TurnaroundProbe {
public:
    TurnaroundProbe();
    ~TurnaroundProbe();
    TurnaroundProbe(const TurnaroundProbe&) = delete;
    TurnaroundProbe& operator=(const TurnaroundProbe&) = delete;

    // On the receive thread, after a read that stored bytes.
    void onRead() {
        if (enabled_) lastRead_.store(nowNs(), std::memory_order_relaxed);
    }
    // On the transmit thread, just before a block's first write.
    void onWrite() {
        if (enabled_) record(nowNs());
    }

private:
    static std::int64_t nowNs() {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void record(std::int64_t now);

    bool enabled_ = false;
    std::string path_;
    std::atomic<std::int64_t> lastRead_{0};
    std::vector<std::uint32_t> samplesNs_;  // written by the transmit thread only
};

}  // namespace zq
