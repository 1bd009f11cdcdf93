// What `ports` shows of a machine's adapters, over a fake /dev and sysfs: an FTDI adapter with
// its ids, strings and latency timer, and a built-in port with nothing of the kind.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/cmd_ports.h"
#include "common/fake_sysfs.h"
#include "common/temp_dir.h"
#include "os/serial_ports_posix.h"

namespace zq::cli {
namespace {

TEST(CliPorts, ShowsTheAdapterOfAFakeMachineAsTextAndJson) {
    testing::TempDir dir;
    std::filesystem::create_directories(dir.path() / "dev");
    for (const char* node : {"dev/ttyUSB0", "dev/ttyS0"}) dir.write(node, "");
    testing::addUsbSerialTty(dir.path() / "sys", "ttyUSB0");
    testing::writeSysfsFile(dir.path() / "sys/class/tty/ttyS0/type", "4");
    const std::vector<SerialPortInfo> ports =
        listSerialPortsUnder(dir.path() / "dev", dir.path() / "sys");
    const std::string dev = (dir.path() / "dev").string();

    std::ostringstream text, json;
    writePorts(text, ports, false);
    writePorts(json, ports, true);
    EXPECT_EQ(text.str(), dev +
                              "/ttyUSB0  ftdi_sio\n"
                              "    USB 0x0403:0x6001  FTDI  FT232R USB UART  serial A50285BI  "
                              "driver ftdi_sio  latency timer 16 ms\n" +
                              dev + "/ttyS0\n");
    EXPECT_EQ(json.str(), "{\"ports\":[{\"name\":\"" + dev +
                              "/ttyUSB0\",\"description\":\"ftdi_sio\",\"vendorId\":\"0x0403\","
                              "\"productId\":\"0x6001\",\"manufacturer\":\"FTDI\",\"product\":"
                              "\"FT232R USB UART\",\"serialNumber\":\"A50285BI\",\"driver\":"
                              "\"ftdi_sio\",\"latencyMs\":16},{\"name\":\"" +
                              dev + "/ttyS0\",\"description\":\"\"}]}\n");
}

}  // namespace
}  // namespace zq::cli
