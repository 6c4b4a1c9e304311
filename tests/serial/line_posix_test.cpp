// The raw line set-up and the rate table, against a pseudo-terminal: the
// channel, the trace relay and the simulator each had a table of their own
// (the relay stopped at 115200, the simulator started at 1200).
#include "serial/line_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "serial/rates.h"
#include "tests/support/pty_pair.h"

namespace serial {
namespace {

TEST(SerialRates, OneTableOfStandardRates) {
  auto rates = StandardRates();
  EXPECT_TRUE(std::is_sorted(rates.begin(), rates.end()));
  EXPECT_EQ(rates.front(), 50u);
  EXPECT_EQ(rates.back(), 4000000u);
  for (uint32_t rate : {50u, 300u, 9600u, 14400u, 115200u, 230400u, 921600u, 4000000u})
    EXPECT_TRUE(IsStandardRate(rate)) << rate;
  for (uint32_t rate : {0u, 1u, 9601u, 250000u, 4000001u})
    EXPECT_FALSE(IsStandardRate(rate)) << rate;
  speed_t code = B0;
  ASSERT_TRUE(TermiosRate(300, &code));
  EXPECT_EQ(code, B300);
  ASSERT_TRUE(TermiosRate(230400, &code));
  EXPECT_EQ(code, B230400);
  EXPECT_FALSE(TermiosRate(14400, &code));  // standard, but reached as a custom rate
  EXPECT_FALSE(TermiosRate(0, &code));
}

class SerialLine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.Ok()) << pty_.Error();
    fd_ = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd_, 0);
  }
  void TearDown() override {
    if (fd_ >= 0) ::close(fd_);
  }
  termios Now() {
    termios t{};
    EXPECT_EQ(tcgetattr(fd_, &t), 0);
    return t;
  }
  testpty::PtyPair pty_;
  int fd_ = -1;
};

TEST_F(SerialLine, RawWordAndRateAsAsked) {
  termios cooked = Now();
  cooked.c_lflag |= ICANON | ECHO | ISIG;
  cooked.c_cflag |= CRTSCTS;
  cooked.c_iflag |= IXON | ICRNL;
  ASSERT_EQ(tcsetattr(fd_, TCSANOW, &cooked), 0);
  LineConfig line;
  line.baudRate = 57600;
  line.minBytes = 1;
  ASSERT_EQ(ConfigureLine(fd_, line), 0);
  termios t = Now();
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | ICRNL), 0u);
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
  EXPECT_EQ(t.c_cc[VMIN], 1);
  // Rate 0 keeps the rate; two stop bits are set as asked.
  line.baudRate = 0;
  line.stopBitsCode = 2;
  line.minBytes = 0;
  ASSERT_EQ(ConfigureLine(fd_, line), 0);
  t = Now();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  // 14400 has no termios constant: it goes through the arbitrary-rate path.
  line.baudRate = 14400;
  EXPECT_EQ(ConfigureLine(fd_, line), 0);
}

TEST_F(SerialLine, SettingsOutOfRangeAreRefusedAndChangeNothing) {
  LineConfig line;
  line.baudRate = 19200;
  ASSERT_EQ(ConfigureLine(fd_, line), 0);
  for (LineConfig bad : {LineConfig{9600, 4, 0, 0, 0}, LineConfig{9600, 9, 0, 0, 0},
                         LineConfig{9600, 8, 4, 0, 0}, LineConfig{9600, 8, 0, 3, 0}}) {
    EXPECT_EQ(ConfigureLine(fd_, bad), EINVAL);
    const termios t = Now();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
  }
}

}  // namespace
}  // namespace serial
