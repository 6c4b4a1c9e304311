// tarnctl with remote ports (rfc2217://HOST:PORT): the settings guard, the
// duplicate check by host and port, a fleet that mixes local and remote
// ports, a COMn mapped to a remote port, the trace of a remote line, and the
// messages that name the server when it is busy or not there. The servers are ser2net on loopback
// in front of pagersim pseudo-terminals.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
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
  std::string Pager(const std::string& dump, bool remote, std::vector<std::string> options = {}) {
    options.insert(options.begin(), {"--fast", "--dump", Path(dump)});
    sims_.push_back(tarnctl::SimulatedPager::Start(options));
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

// How a trace direction differs from what the pager saw: -1 when a shown
// byte differs or a byte is missing or extra, else the count of masked ones.
int MaskedElseEqual(const std::string& traced, const std::string& wire) {
  std::istringstream t(traced), w(wire);
  int masked = 0;
  for (std::string a, b; t >> a;) {
    if (!(w >> b) || (a != "**" && a != b)) return -1;
    masked += a == "**";
  }
  std::string extra;
  return w >> extra ? -1 : masked;
}

TEST_F(RemoteCli, ATracedRemoteWriteHoldsTheJobAndNeverThePassword) {
  std::vector<unsigned char> image(96);
  for (size_t i = 0; i < image.size(); ++i) image[i] = i % 3 ? 0xFF : static_cast<unsigned char>(i);
  tarnctl_test::WriteFile(Path("in.s19"), tarnctl_test::S19File(0x0600, image));
  tarnctl_test::WriteFile(Path("pw"), "secretpw\n");
  const std::string settings =
      Pager("traced.bin", true,
            {"--status", "Y", "--password", "secretpw", "--transcript", Path("wire.txt")});
  RunResult w = Tarnctl({"--no-window", "write", Path("in.s19"), "--password-file", Path("pw"),
                         "--trace", Path("trace.txt"), "--port", settings});
  ASSERT_EQ(w.exitCode, 0) << w.out << w.err;
  servers_.clear();
  sims_.clear();  // the dump and the transcript are written

  const std::string trace = tarnctl_test::ReadFile(Path("trace.txt"));
  const std::string wire = tarnctl_test::ReadFile(Path("wire.txt"));
  std::string toPager, toHost;
  tarnctl_test::TraceBytes(trace, &toPager, &toHost);
  const std::string wireToPager = tarnctl_test::TranscriptBytes(wire, "host->pager");
  const std::string wireToHost = tarnctl_test::TranscriptBytes(wire, "pager->host");
  const std::string secret = " 73 65 63 72 65 74 70 77";  // "secretpw"
  ASSERT_NE(wireToPager.find(secret), std::string::npos) << "the password did not go out";
  // The write and its verify each give the password.
  EXPECT_EQ(MaskedElseEqual(toPager, wireToPager), 20) << trace << "\n--- the pager saw:\n"
                                                       << wireToPager;
  EXPECT_EQ(MaskedElseEqual(toHost, wireToHost), 0) << trace;
  EXPECT_EQ(trace.find(secret.substr(0, 12)), std::string::npos) << trace;
  EXPECT_NE(
      trace.find("# end: " + std::to_string(wireToPager.size() / 3) + " bytes to the pager, " +
                 std::to_string(wireToHost.size() / 3) + " bytes to the host"),
      std::string::npos)
      << trace;
  const std::string dump = tarnctl_test::ReadFile(Path("traced.bin"));
  ASSERT_EQ(dump.size(), 0x10000u);
  EXPECT_EQ(dump.substr(0x0600, image.size()), std::string(image.begin(), image.end()));
}

// The relay asks the server for the line settings as the download server
// would: five data bits with one and a half stop bits, which ser2net on a
// pseudo-terminal does not confirm, stop the job before any byte reaches
// the pager.
TEST_F(RemoteCli, ATraceOfARemoteLineNeedsTheServerToConfirmTheSettings) {
  const std::string settings =
      Pager("refused.bin", true, {"--transcript", Path("wire.txt")}) + " data = 5 stop = 1.5";
  RunResult r =
      Tarnctl({"--no-window", "identify", "--trace", Path("trace.txt"), "--port", settings});
  EXPECT_EQ(r.exitCode, tarnctl::kExitPort) << r.out << r.err;
  EXPECT_NE(r.err.find("--trace: the server at " + servers_.back()->Url() + " does not take"),
            std::string::npos)
      << r.err;
  servers_.clear();
  sims_.clear();
  EXPECT_EQ(tarnctl_test::ReadFile(Path("wire.txt")), "");
}

// A server that goes away mid-write, once the pager has acknowledged the
// image: the relay notices at once and says so in the trace, hangs up the
// download server's side, and the job fails as a lost line without waiting
// out a timeout.
TEST_F(RemoteCli, ATracedWriteWhoseServerGoesAwayFailsAndSaysSo) {
  tarnctl_test::WriteFile(Path("in.s19"),
                          tarnctl_test::S19File(0x0800, std::vector<unsigned char>(512, 0x5A)));
  const std::string settings = Pager("dropped.bin", true, {"--baud", "9600"});
  std::atomic<bool> done{false};
  std::thread stopper([&] {
    // The acknowledgement after the image bytes.
    auto acknowledged = [&] {
      const std::string trace = tarnctl_test::ReadFile(Path("trace.txt"));
      const size_t image = trace.rfind(" 5A 5A");
      return image != std::string::npos && trace.find("< 06", image) != std::string::npos;
    };
    while (!done && !acknowledged()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    servers_.back()->Stop();
  });
  RunResult w = Tarnctl(
      {"--no-window", "write", Path("in.s19"), "--trace", Path("trace.txt"), "--port", settings},
      30);
  done = true;
  stopper.join();
  EXPECT_FALSE(w.timedOut);
  EXPECT_NE(w.exitCode, 0) << w.out << w.err;
  EXPECT_NE(w.err.find("the connection to 127.0.0.1:"), std::string::npos) << w.err;
  const std::string trace = tarnctl_test::ReadFile(Path("trace.txt"));
  // Noticed while the host only listens (it waits before the read-back),
  // not at its next byte.
  const size_t drop = trace.find("# the server dropped the connection");
  ASSERT_NE(drop, std::string::npos) << trace;
  EXPECT_EQ(trace.find(" > ", trace.rfind("< 06", drop)), std::string::npos) << trace;
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
