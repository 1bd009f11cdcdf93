#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zq {

// A serial device of this machine, as the port lists of the front-ends show it.
struct SerialPortInfo {
    std::string name;         // what ComPort takes: "COM3", or a device path such as /dev/ttyUSB0
    std::string description;  // what the system says of it (may be empty)

    bool operator==(const SerialPortInfo&) const = default;
};

inline constexpr std::size_t kMaxSerialPorts = 16;

// The serial devices of this machine, at most kMaxSerialPorts, in a stable order: on Windows
// the existing ports among COM1 to COM16; on Linux the USB adapters (ttyUSB, ttyACM and whatever
// /dev/serial/by-id names), then the built-in ports that have a UART behind them.
std::vector<SerialPortInfo> listSerialPorts();

// "COM5" for 5.
std::string comPortName(unsigned number);
// 5 for "COM5", "com5" or "\\.\COM5"; 0 for anything else (and for numbers above 255).
unsigned comPortNumber(std::string_view name);

}  // namespace zq
