// Device names to device paths, without the runtime's port map.
#include "tarn/channel/port_name.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace tarn {
namespace {

std::string Resolve(const char* name) {
  std::string path;
  int error = ResolvePortName(name, &path);
  return error == 0 ? path : "errno " + std::to_string(error);
}

TEST(PortName, DefaultMapping) {
  // Where the runtime's port map is linked in, make it an empty one.
  std::string empty = "/tmp/tarn-channel-no-registry-" + std::to_string(getpid());
  setenv("COMRT_REGISTRY", empty.c_str(), 1);
  EXPECT_EQ(Resolve("/dev/pts/7"), "/dev/pts/7");
  EXPECT_EQ(Resolve("COM1"), "/dev/ttyS0");
  EXPECT_EQ(Resolve("com3"), "/dev/ttyS2");
  EXPECT_EQ(Resolve("COM12"), "/dev/ttyS11");
  EXPECT_EQ(Resolve("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(Resolve("com5:"), "/dev/ttyS4");
  // A port name with no such port is refused, never opened as a file.
  EXPECT_EQ(Resolve("COM0"), "errno " + std::to_string(ERANGE));
  EXPECT_EQ(Resolve("COM300"), "errno " + std::to_string(ERANGE));
  EXPECT_EQ(Resolve("COM1x"), "/dev/COM1x");
  EXPECT_EQ(Resolve(""), "errno " + std::to_string(ENOENT));
  EXPECT_EQ(Resolve(nullptr), "errno " + std::to_string(ENOENT));
}

}  // namespace
}  // namespace tarn
