// The raw line set-up of a POSIX terminal, shared by the serial channel, the
// trace relay and the simulator's pseudo-terminal.
//
// ConfigureLine puts the terminal in raw mode (no echo, no translation, no
// signals), turns the receiver on and ignores the modem-status lines
// (CLOCAL | CREAD), with no hardware or software flow control and no input
// parity checking, then sets the word size, parity and stop bits asked for:
// - data bits 5 to 8; parity 0 none, 1 odd, 2 even, 3 mark (CMSPAR, where
//   the system has it); stop-bits code 0 one, 1 one and a half, 2 two. One
//   and a half selects CSTOPB: a UART gives one and a half stop bits for
//   5-bit words that way.
// - rates with a termios constant through cfsetospeed, any other through
//   the kernel's arbitrary-rate interface (custom_baud_posix.h); rate 0
//   keeps the rate the terminal has.
// - The settings in force are read back: a driver that silently drops one
//   (a pseudo-terminal forces 8 data bits and no parity, a UART may lack
//   mark parity or a rate) fails the set-up with EINVAL instead of running
//   the line with other settings. A rate outside the termios table may
//   differ by up to 2 % (the UART's divisor), as the kernel itself allows.
#ifndef SERIAL_LINE_POSIX_H
#define SERIAL_LINE_POSIX_H

#include <termios.h>

#include <cstdint>

namespace serial {

struct LineConfig {
  uint32_t baudRate = 9600;  // 0: keep the terminal's rate
  uint8_t dataBits = 8;
  uint8_t parityCode = 0;
  uint8_t stopBitsCode = 0;
  // VMIN of the raw terminal: 0 for a reader that waits with poll, 1 for
  // one that blocks in read until a byte comes.
  uint8_t minBytes = 0;
};

// The termios constant of a rate, when there is one.
bool TermiosRate(uint32_t rate, speed_t* code);

// Sets up the open terminal `fd`. Returns 0, or the errno of the failure
// (EINVAL for settings outside the ranges above or not taken by the driver).
int ConfigureLine(int fd, const LineConfig& config);

}  // namespace serial

#endif  // SERIAL_LINE_POSIX_H
