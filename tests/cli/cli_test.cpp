#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_context.h"
#include "cli/cli_run.h"
#include "os/serial_ports.h"

namespace zq::cli {
namespace {

TEST(Cli, VersionHelpAndUsageErrors) {
    CliResult r = runCli({"--version"});
    EXPECT_EQ(r.code, kExitDone);
    EXPECT_EQ(r.out, "1.02\n");
    r = runCli({"--help"});
    EXPECT_EQ(r.code, kExitDone);
    EXPECT_NE(r.out.find("-C DIR"), std::string::npos);
    EXPECT_EQ(runCli({}).code, kExitUsage) << "a subcommand is needed";
    r = runCli({"--frobnicate"});
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_FALSE(r.err.empty());
    EXPECT_EQ(runCli({"nosuchcommand"}).code, kExitUsage);
}

TEST(PlatformsCommand, PrintsEveryPlatformWithItsMap) {
    CliResult r = runCli({"platforms"});
    ASSERT_EQ(r.code, kExitDone) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find("\n", r.out.find("\n") + 1) + 1),
              "0x10000001  XC167 @ QB5 + dualBridge (AMD)\n"
              "  kind   start       end         size        erase ms  write ms\n");
    EXPECT_NE(r.out.find("  Aux    0x00D50000  0x00D5FFFF  0x00010000  0         1000\n"
                         "  Ram    0x00E00000  0x00E017FF  0x00001800  0         1000\n\n"),
              std::string::npos);
    // The range that reaches the top of the address space ends there, not at 0.
    EXPECT_NE(r.out.find("  Flash  0xFF800000  0xFFEFFFFF  0x00700000  200000    1000\n"
                         "  Flash  0xFFF40000  0xFFFFFFFF  0x000C0000  10000     1000\n"),
              std::string::npos);
}

TEST(PlatformsCommand, Json) {
    CliResult r = runCli({"platforms", "--json"});
    ASSERT_EQ(r.code, kExitDone);
    EXPECT_EQ(r.out.rfind("[{\"plId\":\"0x10000001\",\"name\":\"XC167 @ QB5 + dualBridge (AMD)\","
                          "\"ranges\":[{\"kind\":\"Flash\",\"start\":\"0x00010000\",\"end\":"
                          "\"0x000FFFFF\",\"size\":\"0x000F0000\",\"eraseTimeoutMs\":20000,"
                          "\"writeTimeoutMs\":1000},",
                          0),
              0u);
    EXPECT_NE(r.out.find("{\"plId\":\"0x30000001\",\"name\":\"MPC5554 @ KRMC\""),
              std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - 5), "}]}]\n");
}

// The listing itself is tested over a fake /dev; here, that both forms show this machine's.
TEST(CliPorts, PrintsThisMachinesPortsAsTextAndJson) {
    CliResult text = runCli({"ports"});
    CliResult json = runCli({"ports", "--json"});
    ASSERT_EQ(text.code + json.code, kExitDone);
    EXPECT_EQ(json.out.rfind("{\"ports\":[", 0), 0u) << json.out;
    EXPECT_EQ(json.out.substr(json.out.size() - 3), "]}\n");
    std::vector<SerialPortInfo> ports = listSerialPorts();
    if (ports.empty()) {
        EXPECT_EQ(text.out, "No serial ports found.\n");
    }
    for (const SerialPortInfo& port : ports) {
        EXPECT_NE(text.out.find(port.name), std::string::npos) << port.name;
        EXPECT_NE(json.out.find("\"name\":\"" + port.name), std::string::npos) << port.name;
    }
}

}  // namespace
}  // namespace zq::cli
