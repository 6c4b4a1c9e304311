// CDirectSerialChannel over a real pseudo-terminal where the line stops
// taking bytes: output suspended through the channel's own extended
// function, a write that then runs into its timeout, and the terminal
// settings handed back when the channel is destroyed with the port open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "pty_pair.h"
#include "tarn/channel/direct_serial_channel.h"

namespace tarn {
namespace {

constexpr uint32_t kSuspendOutput = 1;  // the extended functions' codes
constexpr uint32_t kResumeOutput = 2;

TEST(PtyLineControl, SuspendedOutputMakesAWriteTimeOutUntilResumed) {
  testpty::PtyPair pty;
  ASSERT_TRUE(pty.Ok()) << pty.Error();
  CDirectSerialChannel ch;
  const std::string settings = "device = " + pty.SlavePath();
  ch.SetSettings(settings.c_str());
  ch.Open();
  ch.SetEchoCancel(false);
  ch.SetTimeout(50);
  ch.EscapeFunction(kSuspendOutput);
  int code = 0;
  try {
    ch.WriteByte(0x41);
  } catch (const GeneralException& e) {
    code = e.GetCode();
  }
  EXPECT_EQ(code, 8);
  EXPECT_TRUE(pty.Read(1, 50).empty());
  ch.EscapeFunction(kResumeOutput);
  ch.WriteByte(0x42);
  EXPECT_EQ(pty.Read(1, 1000), std::vector<uint8_t>{0x42});
  ch.Close();
}

TEST(PtyLineControl, DestroyingAnOpenChannelRestoresTheTerminalSettings) {
  testpty::PtyPair pty;
  ASSERT_TRUE(pty.Ok()) << pty.Error();
  int probe = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(probe, 0);
  termios t{};
  ASSERT_EQ(tcgetattr(probe, &t), 0);
  t.c_lflag |= ECHO | ICANON;
  t.c_cflag |= CRTSCTS;
  ASSERT_EQ(tcsetattr(probe, TCSANOW, &t), 0);
  {
    CDirectSerialChannel ch;
    const std::string settings = "device = " + pty.SlavePath();
    ch.SetSettings(settings.c_str());
    ch.Open();
    ASSERT_EQ(tcgetattr(probe, &t), 0);
    ASSERT_EQ(t.c_lflag & ECHO, 0u);
  }
  ASSERT_EQ(tcgetattr(probe, &t), 0);
  EXPECT_EQ(t.c_lflag & (ECHO | ICANON), static_cast<tcflag_t>(ECHO | ICANON));
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  close(probe);
}

}  // namespace
}  // namespace tarn
