// CDirectSerialChannel over real pseudo-terminals: the POSIX port backend.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "code_of.h"
#include "cooked_probe.h"
#include "pty_pair.h"
#include "tarn/channel/direct_serial_channel.h"

namespace tarn {
namespace {

using Clock = std::chrono::steady_clock;

using testsupport::CodeOf;

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class PtyChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok()) << pty.Error();
    settings = "device = " + pty.SlavePath() + " baud = 115200";
    ch.SetSettings(settings.c_str());
  }
  testpty::PtyPair pty;
  CDirectSerialChannel ch;
  std::string settings;
};

TEST(PtyChannelNoDevice, OpenWithoutDeviceNameFails) {
  CDirectSerialChannel ch;
  EXPECT_EQ(CodeOf([&] { ch.Open(); }), 1);
  EXPECT_FALSE(ch.IsOpen());
  ch.SetSettings("device = /dev/no-such-serial-device");
  EXPECT_EQ(CodeOf([&] { ch.Open(); }), 1);
  EXPECT_FALSE(ch.IsOpen());
  EXPECT_STREQ(ch.FailureReason(), "no such device");
  // A file that is not a terminal is no serial device.
  ch.SetSettings("device = /dev/null");
  EXPECT_EQ(CodeOf([&] { ch.Open(); }), 1);
  EXPECT_STREQ(ch.FailureReason(), "not a serial device");
}

TEST_F(PtyChannel, OpenCloseIdempotentAndReopenable) {
  ch.Open();
  ch.Open();
  EXPECT_TRUE(ch.IsOpen());
  ch.Close();
  ch.Close();
  EXPECT_FALSE(ch.IsOpen());
  ch.Open();  // the lock went with the close
  EXPECT_TRUE(ch.IsOpen());
  ch.Close();
}

TEST_F(PtyChannel, SecondOpenOfTheSameDeviceIsBusy) {
  ch.Open();
  CDirectSerialChannel other;
  other.SetSettings(settings.c_str());
  EXPECT_EQ(CodeOf([&] { other.Open(); }), 1);
  EXPECT_FALSE(other.IsOpen());
  EXPECT_STREQ(other.FailureReason(), "port busy");
  EXPECT_NE(other.LastOsError(), 0);
  ch.Close();
  EXPECT_EQ(CodeOf([&] { other.Open(); }), 0);
  other.Close();
}

TEST_F(PtyChannel, ReadTimesOutWithinTheTimeout) {
  EXPECT_EQ(CodeOf([&] { ch.ReadByte(); }), 11);
  ch.Open();
  ch.SetTimeout(150);
  auto start = Clock::now();
  EXPECT_EQ(CodeOf([&] { ch.ReadByte(); }), 7);
  long elapsed = MsSince(start);
  EXPECT_GE(elapsed, 140);
  EXPECT_LT(elapsed, 1500);  // generous: a busy machine may be slow to wake us
  // A byte that is there returns at once.
  ASSERT_TRUE(pty.Write("\x42", 1));
  ch.SetTimeout(5000);
  start = Clock::now();
  EXPECT_EQ(ch.ReadByte(), 0x42);
  EXPECT_LT(MsSince(start), 2500);
}

TEST_F(PtyChannel, EchoCancelOnASilentLineFailsAfterSending) {
  ch.Open();
  ch.SetTimeout(100);
  EXPECT_EQ(CodeOf([&] { ch.WriteByte(0x5A); }), 7);
  EXPECT_EQ(pty.Read(1, 1000), (std::vector<uint8_t>{0x5A}));
}

TEST_F(PtyChannel, AllByteValuesPassBothWays) {
  ch.Open();
  ch.SetEchoCancel(false);
  ch.SetTimeout(2000);
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  ch.WriteBuffer(all.data(), 256);
  EXPECT_EQ(pty.Read(256, 3000), all);
  ASSERT_TRUE(pty.Write(all));
  std::vector<uint8_t> in(256);
  ch.ReadBuffer(in.data(), 256);
  EXPECT_EQ(in, all);
  // Nothing extra arrived (no echo, no CR/LF translation).
  ch.SetTimeout(50);
  EXPECT_EQ(CodeOf([&] { ch.ReadByte(); }), 7);
  EXPECT_TRUE(pty.Read(1, 50).empty());
}

TEST_F(PtyChannel, LoopBackDwordsThroughTheLine) {
  ch.Open();
  ch.SetEchoCancel(false);
  ch.SetTimeout(2000);
  for (bool big : {true, false}) {
    ch.SetBigEndian(big);
    ch.WriteDword(0x12345678);
    std::vector<uint8_t> sent = pty.Read(4, 2000);
    std::vector<uint8_t> expected = {0x12, 0x34, 0x56, 0x78};
    if (!big) expected = {0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(sent, expected);
    ASSERT_TRUE(pty.Write(sent));
    EXPECT_EQ(ch.ReadDword(), 0x12345678u);
  }
}

TEST_F(PtyChannel, EchoingPeerSatisfiesEchoCancel) {
  ch.Open();
  ch.SetTimeout(2000);
  std::thread echo([this] {
    for (int i = 0; i < 3; ++i) {
      std::vector<uint8_t> b = pty.Read(1, 2000);
      if (b.empty() || !pty.Write(b)) return;
    }
  });
  ch.WriteByte(1);
  ch.WriteWord(0x0203);
  echo.join();
  ch.SetTimeout(50);
  EXPECT_EQ(CodeOf([&] { ch.ReadByte(); }), 7);  // every echo was consumed
}

TEST_F(PtyChannel, PurgeInputDropsPendingBytes) {
  ch.Open();
  ASSERT_TRUE(pty.Write("abc", 3));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ch.PurgeInput();
  ch.SetTimeout(50);
  EXPECT_EQ(CodeOf([&] { ch.ReadByte(); }), 7);
  ch.PurgeOutput();
}

TEST_F(PtyChannel, HangUpIsAFailureNotATimeout) {
  ch.Open();
  ch.SetEchoCancel(false);
  ch.SetTimeout(3000);
  ASSERT_TRUE(pty.Write("\x01", 1));
  EXPECT_EQ(ch.ReadByte(), 0x01);
  std::thread closer([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pty.CloseMaster();
  });
  auto start = Clock::now();
  EXPECT_EQ(CodeOf([&] { ch.ReadByte(); }), 5);
  EXPECT_LT(MsSince(start), 2500);  // well before the 3 s timeout
  closer.join();
  EXPECT_EQ(CodeOf([&] { ch.WriteByte(2); }), 6);
  EXPECT_TRUE(ch.IsOpen());
  // The dead line still closes cleanly.
  EXPECT_EQ(CodeOf([&] { ch.Close(); }), 0);
  EXPECT_FALSE(ch.IsOpen());
}

TEST_F(PtyChannel, AnyBaudRateConfiguresAndDroppedLineSettingsFail) {
  for (const char* text :
       {"baud = 31250", "baud = 9600 stop = 2", "baud = 250000", "baud = 1000000"}) {
    ch.SetSettings(text);
    EXPECT_EQ(CodeOf([&] { ch.Open(); }), 0) << text;
    ch.Close();
  }
  // A pseudo-terminal takes every rate but forces 8 data bits and no
  // parity, and still reports success: the settings read back tell.
  for (const char* text : {"baud = 9600 data = 7", "parity = odd data = 8", "parity = even",
                           "parity = mark", "data = 5 stop = 1.5 parity = no", "data = 9"}) {
    ch.SetSettings(text);
    EXPECT_EQ(CodeOf([&] { ch.Open(); }), 3) << text;
    EXPECT_FALSE(ch.IsOpen());
    EXPECT_STREQ(ch.FailureReason(), "line settings refused");
  }
}

TEST_F(PtyChannel, SettingsOnAnOpenPortReopenIt) {
  ch.Open();
  ch.SetSettings("baud = 19200");
  EXPECT_TRUE(ch.IsOpen());
  // Still exclusive after the reopen, and still working.
  CDirectSerialChannel other;
  other.SetSettings(settings.c_str());
  EXPECT_EQ(CodeOf([&] { other.Open(); }), 1);
  ch.SetEchoCancel(false);
  ch.WriteByte(0x33);
  EXPECT_EQ(pty.Read(1, 1000), (std::vector<uint8_t>{0x33}));
  ch.Close();
}

TEST_F(PtyChannel, BreakSetAndCleared) {
  ch.Open();
  auto start = Clock::now();
  ch.SendBreak(60);
  EXPECT_GE(MsSince(start), 55);
  EXPECT_FALSE(ch.IsBreak());
  ch.Close();
}

TEST_F(PtyChannel, DestroyingAnOpenChannelReleasesTheDevice) {
  {
    CDirectSerialChannel temp;
    temp.SetSettings(settings.c_str());
    temp.Open();
  }
  EXPECT_EQ(CodeOf([&] { ch.Open(); }), 0);
  ch.Close();
}

TEST_F(PtyChannel, RawWhileOpenAndOriginalSettingsRestoredOnClose) {
  testsupport::CookedProbe probe(pty.SlavePath(), IXON | ICRNL);
  ASSERT_TRUE(probe.Ok());
  ch.Open();
  termios t{};
  ASSERT_TRUE(probe.Settings(&t));
  EXPECT_EQ(t.c_lflag & (ECHO | ICANON), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  EXPECT_NE(t.c_cflag & CLOCAL, 0u);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  ch.Close();
  probe.ExpectCooked();
}

}  // namespace
}  // namespace tarn
