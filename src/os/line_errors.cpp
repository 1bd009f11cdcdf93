#include "os/line_errors.h"

#include "os/notifications.h"

namespace zq {

std::uint32_t lineErrorBits(const LineErrorCounts& before, const LineErrorCounts& after) {
    std::uint32_t bits = 0;
    // Inequality rather than "greater": the counters are unsigned and may wrap.
    if (after.bufferOverrun != before.bufferOverrun) bits |= kLineErrorRxOver;
    if (after.overrun != before.overrun) bits |= kLineErrorOverrun;
    if (after.parity != before.parity) bits |= kLineErrorParity;
    if (after.frame != before.frame) bits |= kLineErrorFrame;
    if (after.brk != before.brk) bits |= kLineErrorBreak;
    return bits;
}

}  // namespace zq
