#include "os/turnaround_probe.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace zq {

namespace {

// More than the WRITEs of the largest image a board takes; later exchanges go uncounted.
constexpr std::size_t kCapacity = 1u << 18;

}  // namespace

TurnaroundProbe::TurnaroundProbe() {
    const char* path = std::getenv("ZQ_TURNAROUND_LOG");
    if (path == nullptr || *path == '\0') return;
    path_ = path;
    samplesNs_.reserve(kCapacity);
    enabled_ = true;
}

void TurnaroundProbe::record(std::int64_t now) {
    // A request with no reply before it (the first one) has no turnaround.
    const std::int64_t read = lastRead_.exchange(0, std::memory_order_relaxed);
    if (read == 0 || samplesNs_.size() == samplesNs_.capacity()) return;
    const std::int64_t span =
        std::clamp<std::int64_t>(now - read, 0, std::numeric_limits<std::uint32_t>::max());
    samplesNs_.push_back(static_cast<std::uint32_t>(span));
}

TurnaroundProbe::~TurnaroundProbe() {
    if (!enabled_) return;
    std::vector<std::uint32_t> sorted = samplesNs_;
    std::sort(sorted.begin(), sorted.end());
    auto at = [&](double q) {
        if (sorted.empty()) return 0.0;
        const auto i = static_cast<std::size_t>(q * static_cast<double>(sorted.size() - 1));
        return static_cast<double>(sorted[i]) / 1e3;
    };
    std::FILE* file = std::fopen(path_.c_str(), "a");
    if (file == nullptr) return;
    std::fprintf(file, "turnaround: %llu exchanges, median %.1f us, p99 %.1f us, max %.1f us\n",
                 static_cast<unsigned long long>(sorted.size()), at(0.5), at(0.99),
                 sorted.empty() ? 0.0 : at(1.0));
    std::fclose(file);
}

}  // namespace zq
