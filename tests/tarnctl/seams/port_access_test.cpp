// The reasons `tarnctl ports` gives when a port cannot be opened, and their
// fixes, from the facts of the device and the user.
#include "port_access.h"

#include <gtest/gtest.h>

namespace {

using tarnctl::PortAccessAdvice;
using tarnctl::PortAccessFacts;

PortAccessFacts DialoutPort() {
  PortAccessFacts f;
  f.device = "/dev/ttyUSB0";
  f.canOpen = false;
  f.mode = 0660;
  f.owner = "root";
  f.group = "dialout";
  f.user = "ann";
  return f;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const auto& l : lines) all += l + "\n";
  return all;
}

TEST(PortAccess, GroupMembershipNamesTheGroupAndTheFix) {
  PortAccessFacts f = DialoutPort();
  auto advice = PortAccessAdvice(f);
  ASSERT_EQ(advice.size(), 1u);
  EXPECT_NE(advice[0].find("not in the group 'dialout'"), std::string::npos) << advice[0];
  EXPECT_NE(advice[0].find("sudo usermod -aG dialout ann"), std::string::npos) << advice[0];

  // Added to the group, but this login is older than that.
  f.listedInGroup = true;
  advice = PortAccessAdvice(f);
  ASSERT_EQ(advice.size(), 1u);
  EXPECT_NE(advice[0].find("log out and in again"), std::string::npos) << advice[0];
  EXPECT_EQ(advice[0].find("usermod"), std::string::npos) << advice[0];

  // A group without rights on the device: joining it would not help.
  f = DialoutPort();
  f.mode = 0600;
  advice = PortAccessAdvice(f);
  ASSERT_EQ(advice.size(), 1u);
  EXPECT_NE(advice[0].find("open to 'root' only"), std::string::npos) << advice[0];
  EXPECT_EQ(advice[0].find("usermod"), std::string::npos) << advice[0];

  // In the group and still refused (an ACL, say): not the group's fault.
  f = DialoutPort();
  f.processInGroup = true;
  EXPECT_EQ(Joined(PortAccessAdvice(f)).find("usermod"), std::string::npos);
}

TEST(PortAccess, ModemManagerOnlyForUsbModemsInTrouble) {
  PortAccessFacts f = DialoutPort();
  f.canOpen = true;
  f.modemManagerRunning = true;
  EXPECT_TRUE(PortAccessAdvice(f).empty());  // opens fine: nothing to say
  f.busy = true;
  const std::string all = Joined(PortAccessAdvice(f));
  EXPECT_NE(all.find("ModemManager"), std::string::npos) << all;
  EXPECT_NE(all.find("ID_MM_DEVICE_IGNORE"), std::string::npos) << all;
  f.device = "/dev/ttyS0";  // a UART is no modem manager's business
  EXPECT_TRUE(PortAccessAdvice(f).empty());
  f.device = "/dev/ttyACM1";
  f.modemManagerRunning = false;
  EXPECT_TRUE(PortAccessAdvice(f).empty());
}

}  // namespace
