#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/temp_dir.h"
#include "os/serial_ports_posix.h"

namespace zq {
namespace {

namespace fs = std::filesystem;

// A /dev and a /sys/class/tty of a machine, made of plain files and links.
class FakeMachine {
public:
    FakeMachine() {
        fs::create_directories(dev() / "serial" / "by-id");
        fs::create_directories(sys());
    }
    fs::path dev() const { return dir_.path() / "dev"; }
    fs::path sys() const { return dir_.path() / "sys"; }

    void node(const std::string& name) const { dir_.write("dev/" + name, ""); }
    void tty(const std::string& name, const std::string& driver = "",
             const std::string& type = "") const {
        fs::create_directories(sys() / name / "device");
        if (!driver.empty())
            fs::create_symlink("../../../bus/drivers/" + driver,
                               sys() / name / "device" / "driver");
        if (!type.empty()) dir_.write("sys/" + name + "/type", type + "\n");
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

}  // namespace
}  // namespace zq
