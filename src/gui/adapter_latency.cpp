#include "gui/adapter_latency.h"

#include <cmath>

namespace zq {

namespace {

constexpr double kWritesPerMiB = 2114;
constexpr double kWriteOnLineMs = 5.85;

}  // namespace

double burnSecondsPerMiB(unsigned latencyMs) {
    return kWritesPerMiB * (kWriteOnLineMs + latencyMs) / 1000.0;
}

unsigned burnSlowdown(unsigned latencyMs) {
    return static_cast<unsigned>(std::lround(burnSecondsPerMiB(latencyMs) / burnSecondsPerMiB(0)));
}

}  // namespace zq
