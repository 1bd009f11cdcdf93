#pragma once

#include <filesystem>
#include <vector>

#include "os/serial_ports.h"

namespace zq {

// listSerialPorts over given roots instead of /dev and /sys/class/tty: a seam for tests.
std::vector<SerialPortInfo> listSerialPortsUnder(const std::filesystem::path& dev,
                                                 const std::filesystem::path& sysTty);

}  // namespace zq
