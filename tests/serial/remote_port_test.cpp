// Remote port names: what is one, what each part becomes, and the text that
// names the server in messages.
#include "serial/remote_port.h"

#include <gtest/gtest.h>

#include <string>

namespace serial {
namespace {

TEST(RemotePortName, ReadsIpv4Ipv6AndHostNames) {
  RemotePort r;
  ASSERT_TRUE(ParseRemotePort("rfc2217://127.0.0.1:7001", &r));
  EXPECT_EQ(r.host, "127.0.0.1");
  EXPECT_EQ(r.port, 7001);
  EXPECT_EQ(HostPortText(r), "127.0.0.1:7001");
  ASSERT_TRUE(ParseRemotePort("RFC2217://[::1]:65535", &r));
  EXPECT_EQ(r.host, "::1");
  EXPECT_EQ(r.port, 65535);
  EXPECT_EQ(HostPortText(r), "[::1]:65535");
  ASSERT_TRUE(ParseRemotePort("rfc2217://bench-3.shop.example:1?ign_set_control", &r));
  EXPECT_EQ(r.host, "bench-3.shop.example");
  EXPECT_EQ(r.port, 1);
}

TEST(RemotePortName, RefusesEveryOtherShapeWithAReason) {
  for (const char* bad :
       {"rfc2217://", "rfc2217://host", "rfc2217://host:", "rfc2217://:7001", "rfc2217://h:0",
        "rfc2217://h:65536", "rfc2217://h:07001", "rfc2217://h:70x", "rfc2217://h:1:2",
        "rfc2217://[::1:7001", "rfc2217://[]:7001", "rfc2217://[zz]:7001", "rfc2217://[::1]7001",
        "rfc2217://h:7001?other", "rfc2217://a b:7001", "rfc2217://h/x:7001", "tcp://h:7001"}) {
    RemotePort r;
    std::string why;
    EXPECT_FALSE(ParseRemotePort(bad, &r, &why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
}

TEST(RemotePortName, OnlyTheSchemeMakesANameRemote) {
  EXPECT_TRUE(IsRemotePortName("rfc2217://h:1"));
  EXPECT_TRUE(IsRemotePortName("Rfc2217://broken"));
  EXPECT_FALSE(IsRemotePortName("/dev/ttyUSB0"));
  EXPECT_FALSE(IsRemotePortName("COM1"));
  EXPECT_FALSE(IsRemotePortName("rfc2217:/h:1"));
}

}  // namespace
}  // namespace serial
