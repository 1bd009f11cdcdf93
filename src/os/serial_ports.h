#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zq {

// The USB adapter behind a port, as far as the system tells: each field is absent where it
// says nothing, or says it in a form this program does not read. A built-in port and a
// pseudo-terminal have none of them.
struct UsbAdapterInfo {
    std::optional<std::uint16_t> vendorId = {};
    std::optional<std::uint16_t> productId = {};
    std::optional<std::string> manufacturer = {};
    std::optional<std::string> product = {};
    std::optional<std::string> serialNumber = {};
    std::optional<std::string> driver = {};
    // FTDI-type adapters hold received bytes until their buffer fills or this timer runs out;
    // a stop-and-wait burn pays it on every reply.
    std::optional<unsigned> latencyMs = {};

    bool operator==(const UsbAdapterInfo&) const = default;
    bool empty() const { return *this == UsbAdapterInfo{}; }
};

// A serial device of this machine, as the port lists of the front-ends show it.
struct SerialPortInfo {
    std::string name;         // what ComPort takes: "COM3", or a device path such as /dev/ttyUSB0
    std::string description;  // what the system says of it (may be empty)
    UsbAdapterInfo adapter = {};

    bool operator==(const SerialPortInfo&) const = default;
};

inline constexpr std::size_t kMaxSerialPorts = 16;

// The serial devices of this machine, at most kMaxSerialPorts, in a stable order: on Windows
// the existing ports among COM1 to COM16 and those that present devices name, by number; on Linux
// the USB adapters (ttyUSB, ttyACM and whatever /dev/serial/by-id names), then the built-in ports
// that have a UART behind them.
std::vector<SerialPortInfo> listSerialPorts();

// The adapter behind the port that ComPort opens by this name ("COM5", "/dev/ttyUSB0", or a
// link to the device such as a /dev/serial/by-id name): what the listing shows of it.
UsbAdapterInfo usbAdapterInfo(const std::string& portName);

// The adapter's latency timer in ms, where the port has one and the system tells it. Read
// after the port is opened: on Linux the open may have asked the driver to lower it.
std::optional<unsigned> adapterLatencyMs(const std::string& portName);

// "COM5" for 5.
std::string comPortName(unsigned number);
// 5 for "COM5", "com5" or "\\.\COM5"; 0 for anything else (and for numbers above 255).
unsigned comPortNumber(std::string_view name);

}  // namespace zq
