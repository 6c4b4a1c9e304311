// tarnctl with remote ports (rfc2217://HOST:PORT): the settings guard, the
// duplicate check by host and port, a fleet that mixes local and remote
// ports, a COMn mapped to a remote port, and the messages that name the
// server when it is busy or not there. The servers are ser2net on loopback
// in front of pagersim pseudo-terminals.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "errors.h"
#include "fleet.h"
#include "network_serial_server.h"
#include "process.h"
#include "settings_check.h"
#include "sim.h"

namespace {

using tarnctl_test::RunResult;
using testsupport::NetworkSerialServer;

std::string Refusal(const std::string& text) {
  try {
    tarnctl::CheckSettings(text, "--port");
    return {};
  } catch (const tarnctl::Error& e) {
    return e.what();
  }
}

TEST(RemoteSettings, RemoteNamesAreCheckedAndTheSameServerLineIsOneDevice) {
  EXPECT_EQ(Refusal("device = rfc2217://127.0.0.1:7001 baud = 9600"), "");
  EXPECT_EQ(Refusal("device = \"rfc2217://[::1]:7001\""), "");
  EXPECT_NE(Refusal("device = rfc2217://127.0.0.1").find("rfc2217://HOST:PORT: no :PORT"),
            std::string::npos);
  EXPECT_NE(Refusal("device = rfc2217://h:99999").find("not a number 1..65535"), std::string::npos);
  EXPECT_NO_THROW(tarnctl::CheckDistinctDevices(
      {"device = rfc2217://127.0.0.1:7001", "device = rfc2217://127.0.0.1:7002"}));
  try {
    tarnctl::CheckDistinctDevices({"device = rfc2217://Bench-A:7001", "device = /dev/null",
                                   "device = RFC2217://bench-a:7001?ign_set_control"});
    ADD_FAILURE() << "the same server line accepted twice";
  } catch (const tarnctl::Error& e) {
    EXPECT_EQ(e.ExitCodeValue(), tarnctl::kExitUsage);
    EXPECT_NE(std::string(e.what()).find("entries 1 and 3 name the same device "
                                         "rfc2217://bench-a:7001"),
              std::string::npos)
        << e.what();
  }
}

std::string S19With0xFF() {
  // 16 bytes at 0x0400: 00 FF 01 FF ... and its checksum.
  std::string line = "S1130400";
  unsigned sum = 0x13 + 0x04;
  char t[4];
  for (int i = 0; i < 16; ++i) {
    unsigned b = i % 2 ? 0xFF : unsigned(i);
    std::snprintf(t, sizeof t, "%02X", b);
    line += t;
    sum += b;
  }
  std::snprintf(t, sizeof t, "%02X", ~sum & 0xFF);
  return "S00600004844521B\n" + line + t + "\nS9030000FC\n";
}

class RemoteCli : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TARNCTL_PAGERSIM", PAGERSIM_EXE, 1);
    dir_ = tarnctl_test::MakeTempDir();
    ASSERT_EQ(Tarnctl({"register"}).exitCode, 0);
  }
  void TearDown() override {
    servers_.clear();
    sims_.clear();
    tarnctl_test::RemoveTree(dir_);
  }
  // A simulated pager; with `remote`, behind ser2net. Returns its settings.
  std::string Pager(const std::string& dump, bool remote) {
    sims_.push_back(tarnctl::SimulatedPager::Start({"--fast", "--dump", Path(dump)}));
    if (!remote) return "device = " + sims_.back()->Device() + " baud = 9600";
    servers_.push_back(std::make_unique<NetworkSerialServer>(NetworkSerialServer::Kind::kSer2net,
                                                             sims_.back()->Device()));
    EXPECT_TRUE(servers_.back()->Ok()) << servers_.back()->Error();
    return "device = " + servers_.back()->Url() + " baud = 9600";
  }
  RunResult Tarnctl(std::vector<std::string> args, double timeout = 60) {
    args.insert(args.begin(), TARNCTL_EXE);
    return tarnctl_test::Run(
        args, {{"COMRT_REGISTRY", dir_ + "/registry"}, {"XDG_CONFIG_HOME", dir_ + "/config"}},
        timeout);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
  std::vector<std::unique_ptr<tarnctl::SimulatedPager>> sims_;
  std::vector<std::unique_ptr<NetworkSerialServer>> servers_;
};

TEST_F(RemoteCli, AFleetMixesLocalAndRemotePortsAndAMappedComPortReachesAServer) {
  tarnctl_test::WriteFile(Path("in.s19"), S19With0xFF());
  const std::string local = Pager("local.bin", false);
  const std::string remote = Pager("remote.bin", true);
  tarnctl_test::WriteFile(Path("ports"), local + "\n" + remote + "\n");
  RunResult w = Tarnctl({"--no-window", "write", Path("in.s19"), "--ports", Path("ports")});
  ASSERT_EQ(w.exitCode, 0) << w.out << w.err;

  RunResult map = Tarnctl({"ports", "--map", "COM9=" + servers_.back()->Url()});
  ASSERT_EQ(map.exitCode, 0) << map.out << map.err;
  EXPECT_NE(map.out.find("COM9   -> " + servers_.back()->Url() + " mapped, present"),
            std::string::npos)
      << map.out;
  RunResult id = Tarnctl({"--no-window", "identify", "--port", "device = COM9"});
  ASSERT_EQ(id.exitCode, 0) << id.out << id.err;
  EXPECT_NE(id.out.find("pager type     8B"), std::string::npos) << id.out;

  servers_.clear();
  sims_.clear();  // the dumps are written
  const std::string a = tarnctl_test::ReadFile(Path("local.bin"));
  const std::string b = tarnctl_test::ReadFile(Path("remote.bin"));
  ASSERT_EQ(a.size(), 0x10000u);
  EXPECT_EQ(a, b);
  EXPECT_EQ(static_cast<unsigned char>(b[0x401]), 0xFF);
}

TEST_F(RemoteCli, ABusyOrAbsentServerIsNamedWithItsHostAndPort) {
  const std::string settings = Pager("busy.bin", true);
  const uint16_t port = servers_.back()->Port();
  // Another client holds the line.
  int holder = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  const unsigned char offer[] = {255, 251, 44};
  ASSERT_EQ(send(holder, offer, sizeof offer, 0), 3);
  unsigned char answer[64];
  ASSERT_GT(recv(holder, answer, sizeof answer, 0), 0);  // served
  RunResult busy = Tarnctl({"--no-window", "identify", "--port", settings});
  EXPECT_EQ(busy.exitCode, tarnctl::kExitPort) << busy.out << busy.err;
  EXPECT_NE(busy.err.find("port busy: 127.0.0.1:" + std::to_string(port)), std::string::npos)
      << busy.err;
  close(holder);

  const std::string nobody =
      "rfc2217://127.0.0.1:" + std::to_string(testsupport::FreeLoopbackPort());
  RunResult absent = Tarnctl({"--no-window", "identify", "--port", "device = " + nobody});
  EXPECT_EQ(absent.exitCode, tarnctl::kExitPort);
  EXPECT_NE(absent.err.find("cannot open port " + nobody + ": connection refused"),
            std::string::npos)
      << absent.err;
}

}  // namespace
