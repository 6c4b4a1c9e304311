// CookedProbe: a second descriptor of a pseudo-terminal's slave, through
// which a test sees the terminal's settings as another program on the line
// would. It puts the terminal into cooked mode (echo, line editing) with
// hardware flow control, plus any input flags asked for, before the channel
// opens the device: settings the channel must replace while it has the port
// and give back when it lets go of it.
#ifndef TESTS_CHANNEL_COOKED_PROBE_H
#define TESTS_CHANNEL_COOKED_PROBE_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <string>

namespace testsupport {

class CookedProbe {
 public:
  explicit CookedProbe(const std::string& slavePath, tcflag_t inputFlags = 0) {
    fd_ = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    if (fd_ < 0 || tcgetattr(fd_, &t) != 0) return;
    t.c_lflag |= ECHO | ICANON;
    t.c_iflag |= inputFlags;
    t.c_cflag |= CRTSCTS;
    ok_ = tcsetattr(fd_, TCSANOW, &t) == 0;
  }
  ~CookedProbe() {
    if (fd_ >= 0) close(fd_);
  }
  CookedProbe(const CookedProbe&) = delete;
  CookedProbe& operator=(const CookedProbe&) = delete;

  // True when the terminal was set up.
  bool Ok() const { return ok_; }
  // The settings in force now; false when they cannot be read.
  bool Settings(termios* t) const { return tcgetattr(fd_, t) == 0; }
  // Checks that the cooked settings are in force again.
  void ExpectCooked() const {
    termios t{};
    ASSERT_TRUE(Settings(&t));
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON), static_cast<tcflag_t>(ECHO | ICANON));
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
};

}  // namespace testsupport

#endif  // TESTS_CHANNEL_COOKED_PROBE_H
