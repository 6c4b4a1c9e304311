// tarnctl's own logic: settings strings, command tokens, passwords, block
// splitting and weights, image coverage, port probing and the trace relay.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "commands.h"
#include "errors.h"
#include "file_checks.h"
#include "fleet.h"
#include "image.h"
#include "pager.h"
#include "platform.h"
#include "process.h"
#include "progress.h"
#include "settings.h"
#include "trace.h"

namespace tarnctl {
namespace {

TEST(Settings, PairsFollowTheServersTokenRules) {
  auto pairs = ParseSettings("x device = COM1 baud=9600 \"dev ice\" = \"a = b\" stop");
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[0].key, "device");
  EXPECT_EQ(pairs[0].value, "COM1");
  EXPECT_EQ(pairs[1].key, "baud");
  EXPECT_EQ(pairs[1].value, "9600");
  EXPECT_EQ(pairs[2].key, "dev ice");
  EXPECT_EQ(pairs[2].value, "a = b");
  EXPECT_EQ(SettingsValue("DEVICE == com3 Parity = ODD", "parity"), "ODD");
  EXPECT_EQ(SettingsValue("device = COM1 baud", "baud"), std::nullopt);
  EXPECT_EQ(SettingsValue("", "device"), std::nullopt);
  EXPECT_EQ(SettingsValue("device = \"unterminated", "device"), "unterminated");
}

TEST(Settings, ReplaceDeviceKeepsTheOtherKeysAndQuotesWhenNeeded) {
  std::string s = ReplaceDevice("baud = 4800 device = COM2 parity = even", "/tmp/my port");
  EXPECT_EQ(SettingsValue(s, "device"), "/tmp/my port");
  EXPECT_EQ(SettingsValue(s, "baud"), "4800");
  EXPECT_EQ(SettingsValue(s, "parity"), "even");
  EXPECT_EQ(ParseSettings(s).size(), 3u);
}

TEST(Settings, DevicesAreNamedAsTheChannelNamesThem) {
  setenv("COMRT_REGISTRY", "/nonexistent-dir/registry", 1);
  bool fromMap = true;
  EXPECT_EQ(ResolveDevice("COM1", &fromMap), "/dev/ttyS0");
  EXPECT_FALSE(fromMap);
  EXPECT_EQ(ResolveDevice("com12"), "/dev/ttyS11");
  EXPECT_EQ(ResolveDevice("/dev/pts/3"), "/dev/pts/3");
  EXPECT_EQ(ResolveDevice("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(ResolveDevice("com5:"), "/dev/ttyS4");
  // A port name with no such port is a usage error, never a file below /dev.
  for (const char* bad : {"COM0", "COM300"}) {
    try {
      ResolveDevice(bad);
      ADD_FAILURE() << bad;
    } catch (const Error& e) {
      EXPECT_EQ(e.ExitCodeValue(), kExitUsage) << bad;
      EXPECT_NE(std::string(e.what()).find("the ports are COM1 to COM256"), std::string::npos)
          << e.what();
    }
  }
  unsetenv("COMRT_REGISTRY");
}

TEST(Commands, TokensParseWithTheirArgumentsAndRanges) {
  ParsedCommand c = ParseCommand("AE:0x123456,0xABCD");
  EXPECT_EQ(c.kind, ParsedCommand::kCommandAE);
  EXPECT_EQ(c.a, 0x123456u);
  EXPECT_EQ(c.b, 0xABCDu);
  EXPECT_EQ(ParseCommand("pair:1,255").b, 255u);
  EXPECT_EQ(ParseCommand("46:65536,256").kind, ParsedCommand::kCommand46);
  EXPECT_EQ(ParseCommand("42:0xFFFFFFFF").a, 0xFFFFFFFFu);
  EXPECT_EQ(ParseCommand("probe").kind, ParsedCommand::kProbe);
  EXPECT_EQ(ParseCommand("ffr").kind, ParsedCommand::kCommandFFRepeat);

  for (const char* bad : {"pair:1,256", "pair:1", "ae:1,0x10000", "40:-1,2", "42:", "42", "13:1",
                          "46:1,2,3", "ae:0x1g,2", "zz", "42:99999999999"}) {
    try {
      ParseCommand(bad);
      ADD_FAILURE() << bad << " was accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.ExitCodeValue(), kExitUsage) << bad;
    }
  }
}

TEST(Password, PaddedToTenBytesLongerRejected) {
  Password p = PasswordFromBytes("secret\n");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data()), 6), "secret");
  for (size_t i = 6; i < 10; ++i) EXPECT_EQ(p[i], 0) << i;
  EXPECT_EQ(PasswordFromBytes("0123456789\r\n")[9], '9');
  std::string binary("\x00\xFF\x01", 3);
  EXPECT_EQ(PasswordFromBytes(binary)[1], 0xFF);
  try {
    PasswordFromBytes("0123456789A");
    ADD_FAILURE() << "an 11-byte password was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.ExitCodeValue(), kExitUsage);
  }
}

TEST(Blocks, SplitAtTheLimitAndWeighWithinTheBarsRange) {
  auto blocks = SplitBlocks(0, 0x10000, 65535);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].length, 65535u);
  EXPECT_EQ(blocks[1].address, 0xFFFFu);
  EXPECT_EQ(blocks[1].length, 1u);
  EXPECT_EQ(SplitBlocks(0x100, 10, 4).size(), 3u);
  EXPECT_EQ(SplitBlocks(0x100, 10, 0).size(), 1u);  // 0 means the largest block

  auto weights = StepWeights(blocks);
  ASSERT_EQ(weights.size(), 2u);
  EXPECT_GE(weights[1], 1);  // a tiny block still counts
  long total = 1 + weights[0] + weights[1];
  EXPECT_LT(total, 65536);  // the progress bar takes 16 bits
  EXPECT_GT(weights[0], 100 * weights[1]);
}

TEST(Image, CoveredAddressesBecomeBlocksInAddressOrder) {
  MemoryImage image;
  for (uint32_t a = 0x10; a < 0x20; ++a) image.covered[a] = true;
  for (uint32_t a = 0xFFF0; a < 0x10000; ++a) image.covered[a] = true;
  image.covered[0x30] = true;
  auto blocks = image.Blocks(8);
  ASSERT_EQ(blocks.size(), 5u);
  EXPECT_EQ(blocks[0].address, 0x10u);
  EXPECT_EQ(blocks[1].address, 0x18u);
  EXPECT_EQ(blocks[2].address, 0x30u);
  EXPECT_EQ(blocks[2].length, 1u);
  EXPECT_EQ(blocks[4].address, 0xFFF8u);
  EXPECT_EQ(blocks[4].length, 8u);
  EXPECT_EQ(image.CoveredCount(), 33u);
}

// A pseudo-terminal pair: `master` plays the far end, `path` the device.
struct Pty {
  int master = -1;
  std::string path;
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    path = ptsname(master);
  }
  ~Pty() { close(master); }
};

TEST(Ports, ProbeTellsBusyFromMissingFromFree) {
  Pty pty;
  std::string detail;
  int keep = open(pty.path.c_str(), O_RDWR | O_NOCTTY);  // the slave stays usable
  ASSERT_GE(keep, 0);
  EXPECT_EQ(platform::ProbePort(pty.path, &detail), platform::PortState::kFree);
  int holder = open(pty.path.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(platform::ProbePort(pty.path, &detail), platform::PortState::kBusy);
  EXPECT_NE(detail.find("locked"), std::string::npos) << detail;
  close(holder);
  EXPECT_EQ(platform::ProbePort(pty.path, &detail), platform::PortState::kFree);
  EXPECT_EQ(platform::ProbePort("/dev/tarnctl-no-such-port", &detail),
            platform::PortState::kMissing);
  close(keep);
}

// Two device nodes of one device (same device number), as udev's by-id
// names or a copy made with mknod are, are one port for a fleet.
TEST(Ports, TwoNodesOfOneDeviceAreOnePort) {
  Pty pty;
  std::string dir = tarnctl_test::MakeTempDir();
  struct stat st {};
  ASSERT_EQ(stat(pty.path.c_str(), &st), 0);
  const std::string copy = dir + "/pager-node";
  if (mknod(copy.c_str(), S_IFCHR | 0600, st.st_rdev) != 0) {
    tarnctl_test::RemoveTree(dir);
    GTEST_SKIP() << "mknod needs root: " << std::strerror(errno);
  }
  EXPECT_TRUE(platform::SameDevice(pty.path, copy));
  EXPECT_FALSE(platform::SameDevice(pty.path, "/dev/null"));
  EXPECT_FALSE(platform::SameDevice(pty.path, dir + "/missing"));
  EXPECT_THROW(CheckDistinctDevices({"device = " + pty.path, "device = " + copy}), Error);
  EXPECT_NO_THROW(CheckDistinctDevices({"device = " + pty.path, "device = /dev/null"}));
  tarnctl_test::RemoveTree(dir);
}

bool ReadExactly(int fd, unsigned char* out, size_t n, int timeoutMs) {
  size_t got = 0;
  while (got < n) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    ssize_t r = read(fd, out + got, n - got);
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

TEST(Trace, RelayCarriesBothWaysAndLogsEveryByte) {
  std::string dir = tarnctl_test::MakeTempDir();
  std::string file = dir + "/trace.txt";
  Pty pager;  // the far end of the "real" device
  {
    auto relay = StartTraceRelay(pager.path, "device = x baud = 9600", file);
    int host = open(relay->HostDevice().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(host, 0);
    termios t;
    tcgetattr(host, &t);
    cfmakeraw(&t);
    tcsetattr(host, TCSANOW, &t);
    // Echo off on the pager side too, so nothing comes back by itself.
    unsigned char wake[2] = {0xAA, 0x0A};  // 0x0A must pass untranslated
    ASSERT_EQ(write(host, wake, 2), 2);
    unsigned char got[2];
    ASSERT_TRUE(ReadExactly(pager.master, got, 2, 2000));
    EXPECT_EQ(got[0], 0xAA);
    EXPECT_EQ(got[1], 0x0A);
    unsigned char answer[2] = {0x8B, 0x0D};
    ASSERT_EQ(write(pager.master, answer, 2), 2);
    ASSERT_TRUE(ReadExactly(host, got, 2, 2000));
    EXPECT_EQ(got[0], 0x8B);
    EXPECT_EQ(got[1], 0x0D);
    EXPECT_EQ(relay->BytesToPager(), 2u);
    EXPECT_EQ(relay->BytesToHost(), 2u);
    close(host);
  }
  std::string trace = tarnctl_test::ReadFile(file);
  EXPECT_NE(trace.find("> AA 0A"), std::string::npos) << trace;
  EXPECT_NE(trace.find("< 8B 0D"), std::string::npos) << trace;
  EXPECT_NE(trace.find("2 bytes to the pager, 2 bytes to the host"), std::string::npos) << trace;
  tarnctl_test::RemoveTree(dir);
}

// A relay between a pager pty and a raw host end, with the password
// C1..CA (bytes that occur nowhere else in these exchanges).
struct PasswordRelay {
  std::string dir = tarnctl_test::MakeTempDir();
  std::string file = dir + "/trace.txt";
  Pty pager;
  std::unique_ptr<TraceRelay> relay;
  int host = -1;
  PasswordRelay() {
    std::array<unsigned char, 10> password{};
    for (size_t i = 0; i < password.size(); ++i) password[i] = static_cast<unsigned char>(0xC1 + i);
    relay = StartTraceRelay(pager.path, "baud = 9600", file, password);
    host = open(relay->HostDevice().c_str(), O_RDWR | O_NOCTTY);
    termios t;
    tcgetattr(host, &t);
    cfmakeraw(&t);
    tcsetattr(host, TCSANOW, &t);
  }
  ~PasswordRelay() {
    if (host >= 0) close(host);
    tarnctl_test::RemoveTree(dir);
  }
  // Sends `bytes` from one side and waits until the other side has them.
  bool Pass(int from, int to, std::vector<unsigned char> bytes) {
    if (write(from, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) return false;
    std::vector<unsigned char> got(bytes.size());
    return ReadExactly(to, got.data(), got.size(), 2000) && got == bytes;
  }
  bool ToPager(std::vector<unsigned char> b) { return Pass(host, pager.master, b); }
  bool ToHost(std::vector<unsigned char> b) { return Pass(pager.master, host, b); }
  std::string Finish() {
    relay.reset();
    return tarnctl_test::ReadFile(file);
  }
};

// No byte of the password in either direction: not as held bytes flushed
// by a pager byte in between, not in the line's echo, not at a hang-up.
void ExpectNoPasswordByte(const std::string& trace) {
  for (int b = 0xC1; b <= 0xCA; ++b) {
    char hex[8];
    std::snprintf(hex, sizeof hex, " %02X", b);
    EXPECT_EQ(trace.find(hex), std::string::npos) << hex << " in\n" << trace;
  }
}

TEST(Trace, PasswordStepIsMaskedByPositionInBothDirections) {
  PasswordRelay r;
  ASSERT_GE(r.host, 0);
  ASSERT_TRUE(r.ToHost({0x8B, 'Y'}));                      // status 'Y': the password follows
  ASSERT_TRUE(r.ToPager({0xC1, 0xC2, 0xC3}));              // the first three password bytes
  ASSERT_TRUE(r.ToHost({0x00, 0xC1, 0xC2, 0xC3}));         // noise, then the line's echo
  ASSERT_TRUE(r.ToPager({0xC4, 0xC5, 0xC6, 0xC7, 0xC8}));  // ...
  ASSERT_TRUE(r.ToHost({0xC4, 0xC5, 0xC6, 0xC7, 0xC8}));
  ASSERT_TRUE(r.ToPager({0xC9, 0xCA}));
  ASSERT_TRUE(r.ToHost({0xC9, 0xCA, 0x06}));  // the echo, then the verdict
  ASSERT_TRUE(r.ToPager({0xAA}));             // the next step is logged in clear again
  ASSERT_TRUE(r.ToHost({0x8B}));
  std::string trace = r.Finish();
  ExpectNoPasswordByte(trace);
  EXPECT_NE(trace.find("< 8B 59"), std::string::npos) << trace;
  EXPECT_NE(trace.find("< 06"), std::string::npos) << trace;  // the verdict
  EXPECT_NE(trace.find("> AA"), std::string::npos) << trace;
  EXPECT_NE(trace.find("> ** ** **  # the download password, masked"), std::string::npos) << trace;
  EXPECT_NE(trace.find("11 bytes to the pager, 15 bytes to the host"), std::string::npos) << trace;
  // Whatever the host sends after 'Y' is masked, not only the configured password.
  PasswordRelay other;
  ASSERT_TRUE(other.ToHost({'Y'}));
  ASSERT_TRUE(other.ToPager({0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0xAA}));
  trace = other.Finish();
  EXPECT_EQ(trace.find(" 30"), std::string::npos) << trace;
  EXPECT_NE(trace.find("> AA"), std::string::npos) << trace;
}

TEST(Trace, HangUpDuringThePasswordWritesNothingInClear) {
  PasswordRelay r;
  ASSERT_GE(r.host, 0);
  ASSERT_TRUE(r.ToHost({'Y'}));
  ASSERT_TRUE(r.ToPager({0xC1, 0xC2, 0xC3, 0xC4, 0xC5}));
  close(std::exchange(r.pager.master, -1));  // the device hangs up
  std::string trace = r.Finish();
  ExpectNoPasswordByte(trace);
  EXPECT_NE(trace.find("5 bytes to the pager"), std::string::npos) << trace;
}

// A device that keeps sending after the download server stopped reading:
// the relay still ends (in a child, so that a hang fails instead of
// stalling the suite).
TEST(Trace, RelayEndsWhileTheDeviceKeepsSending) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    alarm(10);
    std::string dir = tarnctl_test::MakeTempDir();
    Pty pager;
    auto relay = StartTraceRelay(pager.path, "baud = 9600", dir + "/t.txt");
    int flags = fcntl(pager.master, F_GETFL);
    fcntl(pager.master, F_SETFL, flags | O_NONBLOCK);
    std::vector<unsigned char> chunk(4096, 0x55);
    // Until the host side's buffer is full and the relay waits for room.
    for (int i = 0; i < 200; ++i) {
      if (write(pager.master, chunk.data(), chunk.size()) < 0) usleep(10000);
    }
    relay.reset();
    tarnctl_test::RemoveTree(dir);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "the relay hung at its end (killed by signal "
      << (WIFSIGNALED(status) ? WTERMSIG(status) : 0) << ")";
}

TEST(Trace, MissingDeviceAndUnwritableFileAreClearErrors) {
  std::string dir = tarnctl_test::MakeTempDir();
  try {
    StartTraceRelay("/dev/tarnctl-no-such-port", "baud = 9600", dir + "/t.txt");
    ADD_FAILURE() << "a missing device was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.ExitCodeValue(), kExitPort);
    EXPECT_NE(std::string(e.what()).find("/dev/tarnctl-no-such-port"), std::string::npos);
  }
  Pty pty;
  try {
    StartTraceRelay(pty.path, "baud = 9600", dir + "/no/such/dir/t.txt");
    ADD_FAILURE() << "an unwritable trace file was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.ExitCodeValue(), kExitFile);
  }
  tarnctl_test::RemoveTree(dir);
}

}  // namespace
}  // namespace tarnctl
