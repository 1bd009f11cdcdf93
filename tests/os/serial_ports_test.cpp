#include <gtest/gtest.h>

#include "os/serial_ports.h"

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

}  // namespace
}  // namespace zq
