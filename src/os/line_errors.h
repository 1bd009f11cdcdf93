#pragma once

#include <cstdint>

namespace zq {

// The line-error counters that a POSIX serial driver keeps (Linux: TIOCGICOUNT). They only
// grow; what happened between two readings is their difference.
struct LineErrorCounts {
    std::uint32_t frame = 0;
    std::uint32_t overrun = 0;  // the UART lost a character
    std::uint32_t parity = 0;
    std::uint32_t brk = 0;
    std::uint32_t bufferOverrun = 0;  // the driver's buffer was full
};

// The WM_COM_ERROR bits (the CE_ meaning) of the errors counted between two readings; 0 if none.
std::uint32_t lineErrorBits(const LineErrorCounts& before, const LineErrorCounts& after);

}  // namespace zq
