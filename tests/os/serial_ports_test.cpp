#include <gtest/gtest.h>

#include "os/serial_ports.h"
#include "os/windows_device_ids.h"

namespace zq {
namespace {

TEST(SerialPorts, ComPortNamesAndNumbers) {
    EXPECT_EQ(comPortName(5), "COM5");
    EXPECT_EQ(comPortNumber("COM5"), 5u);
    EXPECT_EQ(comPortNumber("com16"), 16u);
    EXPECT_EQ(comPortNumber("\\\\.\\COM12"), 12u);
    EXPECT_EQ(comPortNumber("COM17"), 17u) << "out of range is for open() to refuse";
    EXPECT_EQ(comPortNumber("COM256"), 0u) << "does not fit the port's 8-bit number";
    for (const char* name : {"", "COM", "COM-1", "COM1x", "LPT1", "/dev/ttyUSB0", "COM12345"})
        EXPECT_EQ(comPortNumber(name), 0u) << name;
}

// Windows names an adapter's device by ids of its bus driver; only what they truly hold is
// taken: a location id or an interface's id is no serial number.
TEST(SerialPorts, UsbAdapterFromWindowsDeviceIds) {
    EXPECT_EQ(usbAdapterFromDeviceIds("FTDIBUS\\COMPORT&VID_0403&PID_6001",
                                      "FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000"),
              (UsbAdapterInfo{0x0403, 0x6001, {}, {}, "A50285BI"}));
    EXPECT_EQ(usbAdapterFromDeviceIds("USB\\VID_2341&PID_0043&REV_0001",
                                      "USB\\VID_2341&PID_0043\\85735313"),
              (UsbAdapterInfo{0x2341, 0x0043, {}, {}, "85735313"}));
    EXPECT_EQ(usbAdapterFromDeviceIds("", "USB\\VID_10C4&PID_EA60\\5&2A3B4C5D&0&2"),
              (UsbAdapterInfo{0x10C4, 0xEA60}));
    EXPECT_EQ(usbAdapterFromDeviceIds("USB\\VID_2341&PID_0043&MI_00",
                                      "USB\\VID_2341&PID_0043&MI_00\\6&1234&0&0000"),
              (UsbAdapterInfo{0x2341, 0x0043}));
    for (const char* bad : {"ACPI\\PNP0501", "USB\\VID_04&PID_60012", "USB\\VID_XYZW&PID_", ""})
        EXPECT_EQ(usbAdapterFromDeviceIds(bad, bad), UsbAdapterInfo{}) << bad;
    EXPECT_EQ(plainDeviceText("@oem12.inf,%ftdi%;FTDI"), "FTDI");
    EXPECT_EQ(plainDeviceText("@oem12.inf,%ftdi%"), "");
    EXPECT_EQ(plainDeviceText("FTDI"), "FTDI");
}

}  // namespace
}  // namespace zq
