#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "os/serial_ports.h"

namespace zq {

// listSerialPorts over given roots instead of /dev and /sys: a seam for tests.
std::vector<SerialPortInfo> listSerialPortsUnder(const std::filesystem::path& dev,
                                                 const std::filesystem::path& sys);

// usbAdapterInfo over a given sysfs root.
UsbAdapterInfo usbAdapterInfoUnder(const std::filesystem::path& sys, const std::string& portName);

// The sysfs root that the lookups read: /sys, or the folder that the environment variable
// ZQ_SYSFS_ROOT names. That variable is a test seam: it lets a test give the command line and
// the windows a fake adapter on a pseudo-terminal.
std::filesystem::path sysfsRoot();

}  // namespace zq
