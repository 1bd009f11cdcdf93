#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/fake_sysfs.h"
#include "common/temp_dir.h"
#include "os/serial_ports_posix.h"

namespace zq {
namespace {

namespace fs = std::filesystem;

// A /dev and a /sys of a machine, made of plain files and links.
class FakeMachine {
public:
    FakeMachine() {
        fs::create_directories(dev() / "serial" / "by-id");
        fs::create_directories(sys() / "class" / "tty");
    }
    fs::path dev() const { return dir_.path() / "dev"; }
    fs::path sys() const { return dir_.path() / "sys"; }

    void node(const std::string& name) const { dir_.write("dev/" + name, ""); }
    void tty(const std::string& name, const std::string& driver = "",
             const std::string& type = "") const {
        const fs::path tty = sys() / "class" / "tty" / name;
        fs::create_directories(tty / "device");
        if (!driver.empty())
            fs::create_symlink("../../../bus/drivers/" + driver, tty / "device" / "driver");
        if (!type.empty()) dir_.write("sys/class/tty/" + name + "/type", type + "\n");
    }
    void byId(const std::string& id, const std::string& name) const {
        fs::create_symlink("../../" + name, dev() / "serial" / "by-id" / id);
    }

private:
    testing::TempDir dir_;
};

TEST(SerialPortsPosix, ListsAdaptersFirstThenBuiltInPortsWithAUart) {
    FakeMachine machine;
    for (const char* name :
         {"ttyUSB0", "ttyUSB2", "ttyUSB10", "ttyACM0", "ttyS0", "ttyS1", "ttyXRUSB0", "tty0"})
        machine.node(name);
    machine.tty("ttyUSB10", "ftdi_sio");
    machine.tty("ttyUSB2", "ftdi_sio");
    machine.tty("ttyUSB0", "ftdi_sio");
    machine.tty("ttyUSB7", "ftdi_sio");  // no device node: gone already
    machine.tty("ttyACM0", "cdc_acm");
    machine.tty("ttyS0", "serial8250", "4");
    machine.tty("ttyS1", "serial8250", "0");  // no UART behind it
    machine.tty("ttyS2", "serial8250", "4");  // no device node
    machine.node("ttyS3");
    machine.tty("ttyS3", "port", "4");  // the generic driver of Linux 6.5 names nothing
    machine.tty("tty0");
    machine.byId("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
    machine.byId("usb-Exar_XR21V1410-if00", "ttyXRUSB0");

    std::string dev = machine.dev().string();
    EXPECT_EQ(listSerialPortsUnder(machine.dev(), machine.sys()),
              (std::vector<SerialPortInfo>{
                  {dev + "/ttyUSB0", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"},
                  {dev + "/ttyUSB2", "ftdi_sio"},
                  {dev + "/ttyUSB10", "ftdi_sio"},
                  {dev + "/ttyACM0", "cdc_acm"},
                  {dev + "/ttyXRUSB0", "usb-Exar_XR21V1410-if00"},
                  {dev + "/ttyS0", "serial8250"},
                  {dev + "/ttyS3", ""},
              }));
}

TEST(SerialPortsPosix, ListsAtMostSixteenAndSurvivesAMissingTree) {
    FakeMachine machine;
    for (int i = 0; i < 20; ++i) {
        machine.node("ttyUSB" + std::to_string(i));
        machine.tty("ttyUSB" + std::to_string(i));
    }
    auto ports = listSerialPortsUnder(machine.dev(), machine.sys());
    ASSERT_EQ(ports.size(), kMaxSerialPorts);
    EXPECT_EQ(ports.back().name, (machine.dev() / "ttyUSB15").string());

    EXPECT_TRUE(listSerialPortsUnder(machine.dev() / "none", machine.sys() / "none").empty());
}

// An FTDI adapter as the kernel lays it out, a CDC-ACM one whose tty device is the interface,
// and one whose files say nothing readable: no field is made up, the listing goes on.
TEST(SerialPortsPosix, ShowsTheUsbAdapterBehindEachPortAsFarAsSysfsTellsIt) {
    FakeMachine machine;
    for (const char* name : {"ttyUSB0", "ttyUSB1", "ttyACM0", "ttyS0"}) machine.node(name);
    testing::addUsbSerialTty(machine.sys(), "ttyUSB0");
    testing::FakeUsbAdapter unreadable;
    unreadable.idVendor = "zz";
    unreadable.idProduct = "60010";
    unreadable.latencyTimer = "sixteen";
    testing::addUsbSerialTty(machine.sys(), "ttyUSB1", unreadable);
    testing::addUsbSerialTty(
        machine.sys(), "ttyACM0",
        {"2341", "0043", "Arduino (www.arduino.cc)", "", "85735313", "cdc_acm", "", true});
    machine.tty("ttyS0", "serial8250", "4");

    const std::vector<SerialPortInfo> ports = listSerialPortsUnder(machine.dev(), machine.sys());
    ASSERT_EQ(ports.size(), 4u);
    const UsbAdapterInfo ftdi{0x0403,     0x6001,     "FTDI", "FT232R USB UART",
                              "A50285BI", "ftdi_sio", 16};
    EXPECT_EQ(ports[0].adapter, ftdi);
    EXPECT_EQ(ports[0].description, "ftdi_sio");
    EXPECT_EQ(ports[1].adapter,
              (UsbAdapterInfo{{}, {}, "FTDI", "FT232R USB UART", "A50285BI", "ftdi_sio", {}}));
    EXPECT_EQ(ports[2].adapter,
              (UsbAdapterInfo{
                  0x2341, 0x0043, "Arduino (www.arduino.cc)", {}, "85735313", "cdc_acm", {}}));
    EXPECT_TRUE(ports[3].adapter.empty());

    // The lookup by the name the port is opened by: the device path, a /dev/serial/by-id link;
    // a pseudo-terminal has no adapter, nor has anything in a missing tree.
    const std::string dev = machine.dev().string();
    EXPECT_EQ(usbAdapterInfoUnder(machine.sys(), dev + "/ttyUSB0"), ftdi);
    const std::string byId = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    machine.byId(byId, "ttyUSB0");
    EXPECT_EQ(usbAdapterInfoUnder(machine.sys(), dev + "/serial/by-id/" + byId), ftdi);
    EXPECT_EQ(usbAdapterInfoUnder(machine.sys(), "/dev/ptmx"), UsbAdapterInfo{});
    EXPECT_EQ(usbAdapterInfoUnder(machine.sys() / "none", dev + "/ttyUSB0"), UsbAdapterInfo{});
}

}  // namespace
}  // namespace zq
