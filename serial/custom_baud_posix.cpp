// Kept apart from the termios code: the kernel's termios2 header clashes
// with <termios.h>.
#include "serial/custom_baud_posix.h"

#include <errno.h>

#if defined(__linux__)
#include <asm/termbits.h>
#include <sys/ioctl.h>
#endif

namespace serial {

#if defined(__linux__) && defined(BOTHER)

int SetCustomBaudRate(int fd, uint32_t rate) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = rate;
  t.c_ospeed = rate;
  if (ioctl(fd, TCSETS2, &t) != 0) return errno;
  return 0;
}

int GetCustomBaudRate(int fd, uint32_t* rate) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  *rate = t.c_ospeed;
  return 0;
}

#else

// Without termios2 a rate outside the B-constants cannot be set or read.
int SetCustomBaudRate(int, uint32_t) {
  return ENOTSUP;
}

int GetCustomBaudRate(int, uint32_t*) {
  return ENOTSUP;
}

#endif

}  // namespace serial
