#pragma once

#include <string>
#include <string_view>

#include "os/serial_ports.h"

namespace zq {

// What a Windows device's ids say of its USB adapter: vendor and product from a hardware id
// ("USB\VID_2341&PID_0043&REV_0001", "FTDIBUS\COMPORT&VID_0403&PID_6001") and the serial number
// from the instance id ("USB\VID_2341&PID_0043\85735313",
// "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000"). Pure text, so that it is tested on every system; the
// rest of the adapter comes from the device's registry properties.
UsbAdapterInfo usbAdapterFromDeviceIds(std::string_view hardwareId, std::string_view instanceId);

// A device property as the registry may hold it, "@oem12.inf,%ftdi%;FTDI": the text after the
// last semicolon is the resolved one.
std::string plainDeviceText(std::string_view text);

}  // namespace zq
