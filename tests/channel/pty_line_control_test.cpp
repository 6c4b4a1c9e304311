// CDirectSerialChannel over a real pseudo-terminal where the line stops
// taking bytes: output suspended through the channel's own extended
// function, a write that then runs into its timeout, and the terminal
// settings handed back when the channel is destroyed with the port open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "cooked_probe.h"
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
  testsupport::CookedProbe probe(pty.SlavePath());
  ASSERT_TRUE(probe.Ok());
  {
    CDirectSerialChannel ch;
    const std::string settings = "device = " + pty.SlavePath();
    ch.SetSettings(settings.c_str());
    ch.Open();
    termios t{};
    ASSERT_TRUE(probe.Settings(&t));
    ASSERT_EQ(t.c_lflag & ECHO, 0u);
  }
  probe.ExpectCooked();
}

}  // namespace
}  // namespace tarn
