#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_context.h"
#include "os/serial_ports.h"

namespace zq::cli {
namespace {

int runCli(std::vector<const char*> args, std::string& out) {
    args.insert(args.begin(), "zidavuvorud-cli");
    std::ostringstream o, e;
    int code = run(static_cast<int>(args.size()), args.data(), o, e);
    out = o.str();
    return code;
}

// The listing itself is tested over a fake /dev; here, that both forms show this machine's.
TEST(CliPorts, PrintsThisMachinesPortsAsTextAndJson) {
    std::vector<SerialPortInfo> ports = listSerialPorts();
    std::string text, json;
    ASSERT_EQ(runCli({"ports"}, text), kExitDone);
    ASSERT_EQ(runCli({"ports", "--json"}, json), kExitDone);
    EXPECT_EQ(json.rfind("{\"ports\":[", 0), 0u) << json;
    EXPECT_EQ(json.substr(json.size() - 3), "]}\n");
    if (ports.empty()) {
        EXPECT_EQ(text, "No serial ports found.\n");
    }
    for (const SerialPortInfo& port : ports) {
        EXPECT_NE(text.find(port.name), std::string::npos) << port.name;
        EXPECT_NE(json.find("\"name\":\"" + port.name), std::string::npos) << port.name;
    }
}

}  // namespace
}  // namespace zq::cli
