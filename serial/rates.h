// Line rates in bits per second.
//
// The standard rates are the ones a terminal driver names with a constant
// of its own (50 to 4000000) plus 14400, which PC serial ports have always
// offered. Any other rate from 1 up may still be asked of a port: on POSIX
// the line set-up reaches it through the kernel's arbitrary-rate interface
// (line_posix.h), and a driver that cannot run it fails the set-up.
#ifndef SERIAL_RATES_H
#define SERIAL_RATES_H

#include <cstdint>
#include <span>

// X(rate) for every rate that POSIX terminals name as B<rate>. The rates
// above 230400 are named on Linux only (TH_SERIAL_FAST_RATES).
#define TH_SERIAL_TERMIOS_RATES(X)                                                                 \
  X(50)                                                                                            \
  X(75) X(110) X(134) X(150) X(200) X(300) X(600) X(1200) X(1800) X(2400) X(4800) X(9600) X(19200) \
      X(38400) X(57600) X(115200) X(230400)
#define TH_SERIAL_FAST_RATES(X)                                                                   \
  X(460800)                                                                                       \
  X(500000) X(576000) X(921600) X(1000000) X(1152000) X(1500000) X(2000000) X(2500000) X(3000000) \
      X(3500000) X(4000000)

namespace serial {

// The standard rates, in ascending order.
std::span<const uint32_t> StandardRates();

bool IsStandardRate(uint32_t rate);

}  // namespace serial

#endif  // SERIAL_RATES_H
