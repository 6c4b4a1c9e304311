// tarnctl's guard on port settings: each bad string is refused naming the
// key and the value, good ones pass, and a device the dialog cannot show is
// put back into what it returns.
#include "settings_check.h"

#include <gtest/gtest.h>

#include "errors.h"

namespace tarnctl {
namespace {

std::string Refusal(const std::string& text) {
  try {
    CheckSettings(text, "--port");
    return {};
  } catch (const Error& e) {
    EXPECT_EQ(e.ExitCodeValue(), kExitUsage) << text;
    return e.what();
  }
}

TEST(SettingsGuard, BadKeysAndValuesAreNamed) {
  for (const char* good :
       {"device = COM1", "DEVICE = /dev/ttyUSB0 baud = 115200 data = 7",
        "device = \"/dev/my port\" parity = Even stop = 1.5 baud = 300",
        "device=COM2 stop=2 data=5 parity=mark", "device = com256: baud = 14400"})
    EXPECT_EQ(Refusal(good), "") << good;
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"device = COM1 baud = -9600", "baud = \"-9600\""},
      {"device = COM1 baud = 12345", "baud = \"12345\""},
      {"device = COM1 baud = 99999999999", "baud = \"99999999999\""},
      {"device = COM1 baud = 0", "baud = \"0\""},
      {"device = COM1 data = 65536", "data = \"65536\""},
      {"device = COM1 data = 9", "data = \"9\""},
      {"device = COM1 parity = none", "parity = \"none\""},
      {"device = COM1 stop = 3", "stop = \"3\""},
      {"device = COM1 speed = 9600", "speed = \"9600\" (unknown key"},
      {"device = \"COM1 baud = 9600", "a quote is not closed"},
      {"device =  baud = 9600", "device = (no value)"},
      {"device = \"\" baud = 9600", "device = \"\""},
      {"device = COM1 baud", "the key baud has no \"= value\""},
      {"baud = 9600", "no device"},
      {"device = COM1 device = COM2", "device is given twice"},
      {"device = COM300 baud = 9600", "device = \"COM300\" (the ports are COM1 to COM256)"},
      {"device = com0:", "device = \"com0:\""},
  };
  for (const Case& c : cases) {
    std::string why = Refusal(c.text);
    EXPECT_NE(why.find(std::string("bad port settings in --port: ") + c.expected),
              std::string::npos)
        << c.text << " -> " << why;
  }
}

TEST(SettingsGuard, TheDialogNeverEmptiesADeviceItCannotShow) {
  EXPECT_EQ(WithDevice("device =  baud = 4800 data = 8 parity = no stop = 1", "/dev/my port"),
            "device = \"/dev/my port\" baud = 4800 data = 8 parity = no stop = 1");
  EXPECT_EQ(WithDevice("device = \"\" baud = 9600", "/dev/ttyACM0"),
            "device = /dev/ttyACM0 baud = 9600");
  EXPECT_EQ(WithDevice("device = COM3 baud = 9600", "/dev/ttyACM0"), "device = COM3 baud = 9600");
}

}  // namespace
}  // namespace tarnctl
