#include "os/serial_ports.h"

#include <cctype>

namespace zq {

std::string comPortName(unsigned number) {
    return "COM" + std::to_string(number);
}

std::optional<unsigned> adapterLatencyMs(const std::string& portName) {
    return usbAdapterInfo(portName).latencyMs;
}

unsigned comPortNumber(std::string_view name) {
    constexpr std::string_view kDeviceNamespace = "\\\\.\\";
    if (name.substr(0, kDeviceNamespace.size()) == kDeviceNamespace)
        name.remove_prefix(kDeviceNamespace.size());
    if (name.size() < 4 || name.size() > 6) return 0;
    for (std::size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
    unsigned number = 0;
    for (char c : name.substr(3)) {
        if (c < '0' || c > '9') return 0;
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    return number <= 255 ? number : 0;
}

}  // namespace zq
