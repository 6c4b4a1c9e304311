// What the direct channel refuses before it drives a line: a device that
// another program already has open, and stop bits that no UART can frame
// with the word size asked for.
#include "tarn/channel/port_holder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>

#include "code_of.h"
#include "fake_port.h"
#include "pty_pair.h"
#include "tarn/channel/direct_serial_channel.h"

namespace tarn {
namespace {

using testsupport::CodeOf;

// A child process named "holder" that opens `path` without any lock and
// keeps it open until it is killed.
class Holder {
 public:
  explicit Holder(const std::string& path) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid = fork();
    if (pid == 0) {
      prctl(PR_SET_NAME, "holder");
      int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      char c = fd >= 0 ? 'y' : 'n';
      if (write(ready[1], &c, 1) != 1) _exit(1);
      pause();
      _exit(0);
    }
    close(ready[1]);
    char c = 'n';
    opened = pid > 0 && read(ready[0], &c, 1) == 1 && c == 'y';
    close(ready[0]);
  }
  ~Holder() { Stop(); }
  void Stop() {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }
  pid_t pid = -1;
  bool opened = false;
};

TEST(PortHolder, AnotherProgramWithTheDeviceOpenIsRefusedAndNamed) {
  testpty::PtyPair pty;
  ASSERT_TRUE(pty.Ok()) << pty.Error();
  std::string settings = "device = " + pty.SlavePath();
  CDirectSerialChannel ch;
  ch.SetSettings(settings.c_str());
  // This process's own descriptors (the pair keeps one) do not count.
  PortHolder found;
  EXPECT_FALSE(FindPortHolder(pty.SlavePath(), &found));
  {
    Holder other(pty.SlavePath());
    ASSERT_TRUE(other.opened);
    ASSERT_TRUE(FindPortHolder(pty.SlavePath(), &found));
    EXPECT_EQ(found.pid, other.pid);
    EXPECT_EQ(found.name, "holder");
    EXPECT_EQ(CodeOf([&] { ch.Open(); }), 1);
    EXPECT_FALSE(ch.IsOpen());
    EXPECT_STREQ(ch.FailureReason(), "port busy");
  }
  EXPECT_EQ(CodeOf([&] { ch.Open(); }), 0);
  ch.Close();
}

TEST(LineSettings, StopBitsMustFitTheWordSize) {
  struct Case {
    const char* text;
    int code;
  };
  // One and a half stop bits come only with 5-bit words, two only with
  // longer ones, on every platform alike.
  for (Case c : {Case{"data = 8 stop = 1.5", 3}, Case{"data = 5 stop = 2", 3},
                 Case{"data = 5 stop = 1.5", 0}, Case{"data = 8 stop = 2", 0},
                 Case{"data = 5 stop = 1", 0}}) {
    auto owned = std::make_unique<FakePort>();
    FakePort* port = owned.get();
    CDirectSerialChannel ch(std::move(owned));
    ch.SetSettings("device = COM1");
    ch.SetSettings(c.text);
    EXPECT_EQ(CodeOf([&] { ch.Open(); }), c.code) << c.text;
    EXPECT_EQ(ch.IsOpen(), c.code == 0) << c.text;
    EXPECT_FALSE(port->isOpen && c.code != 0) << c.text;
  }
}

}  // namespace
}  // namespace tarn
