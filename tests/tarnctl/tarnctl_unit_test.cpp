// tarnctl's own logic: settings strings, command tokens, passwords, block
// splitting and weights, image coverage, port probing and the trace relay.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include "commands.h"
#include "errors.h"
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
