// Rates that the standard termios speed constants do not cover (POSIX).
#ifndef SERIAL_CUSTOM_BAUD_POSIX_H
#define SERIAL_CUSTOM_BAUD_POSIX_H

#include <cstdint>

namespace serial {

// Sets input and output speed of the open terminal `fd` to `rate` bits per
// second through the kernel's arbitrary-rate interface. Returns 0, or the
// errno of the failure (ENOTSUP where no such interface exists).
int SetCustomBaudRate(int fd, uint32_t rate);

// The output speed in bits per second that the terminal `fd` reports now
// through the same interface. Returns 0, or the errno of the failure.
int GetCustomBaudRate(int fd, uint32_t* rate);

}  // namespace serial

#endif  // SERIAL_CUSTOM_BAUD_POSIX_H
