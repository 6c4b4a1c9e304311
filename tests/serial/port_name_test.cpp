// One answer for every COM port name, where the channel, the runtime's port
// map and tarnctl used to give three.
#include "serial/port_name.h"

#include <gtest/gtest.h>

namespace serial {
namespace {

unsigned Port(const char* name) {
  PortName p = ParsePortName(name);
  return p.kind == PortNameKind::kPort ? p.number : 0;
}

PortNameKind Kind(const char* name) {
  return ParsePortName(name).kind;
}

TEST(SerialPortName, PortsOneTo256InEveryWriting) {
  EXPECT_EQ(Port("COM1"), 1u);
  EXPECT_EQ(Port("com5:"), 5u);
  EXPECT_EQ(Port("cOm12"), 12u);
  EXPECT_EQ(Port("\\\\.\\COM99"), 99u);
  EXPECT_EQ(Port("\\\\.\\com7:"), 7u);
  EXPECT_EQ(Port("COM256"), 256u);
  EXPECT_EQ(PortNameOf(256), "COM256");
  EXPECT_EQ(DefaultPortDevice(1), "/dev/ttyS0");
  EXPECT_EQ(DefaultPortDevice(256), "/dev/ttyS255");
}

TEST(SerialPortName, OutOfRangeOrLeadingZeroIsABadPortNotAFileName) {
  for (const char* bad : {"COM0", "COM257", "COM300", "com300:", "COM01", "COM007", "COM99999",
                          "COM4294967297", "\\\\.\\COM0"})
    EXPECT_EQ(Kind(bad), PortNameKind::kBadPort) << bad;
  EXPECT_NE(BadPortMessage("COM300").find("COM300"), std::string::npos);
  EXPECT_NE(BadPortMessage("COM300").find("COM1 to COM256"), std::string::npos);
}

TEST(SerialPortName, OtherNamesAreNoPortAtAll) {
  for (const char* other : {"", "COM", "COM:", "COMX", "COM1x", "COM 1", "COM+1", "COM-1",
                            "COM5::", "xCOM1", "ttyUSB0", "/dev/ttyS0", "\\\\.\\ttyS0", "CO1"})
    EXPECT_EQ(Kind(other), PortNameKind::kNotAPort) << other;
}

}  // namespace
}  // namespace serial
