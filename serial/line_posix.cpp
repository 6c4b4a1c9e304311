#include "serial/line_posix.h"

#include <errno.h>

#include "serial/custom_baud_posix.h"
#include "serial/rates.h"

namespace serial {
namespace {

// Everything ConfigureLine sets about the word on the line.
constexpr tcflag_t kLineFlags = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS
#ifdef CMSPAR
                                | CMSPAR
#endif
    ;

// Writes word size, parity and stop bits into t; false when out of range.
bool SetWord(termios& t, const LineConfig& config) {
  static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  if (config.dataBits < 5 || config.dataBits > 8 || config.stopBitsCode > 2) return false;
  t.c_cflag &= ~kLineFlags;
  t.c_cflag |= kSizes[config.dataBits - 5];
  switch (config.parityCode) {
    case 0:
      break;
    case 1:
      t.c_cflag |= PARENB | PARODD;
      break;
    case 2:
      t.c_cflag |= PARENB;
      break;
#ifdef CMSPAR
    case 3:
      t.c_cflag |= PARENB | PARODD | CMSPAR;
      break;
#endif
    default:
      return false;
  }
  if (config.stopBitsCode != 0) t.c_cflag |= CSTOPB;
  return true;
}

// True when the terminal reports the word of `wanted` and the rate asked
// for.
bool SettingsInForce(int fd, const termios& wanted, bool standardRate, uint32_t rate) {
  termios got{};
  if (tcgetattr(fd, &got) != 0) return false;
  if ((got.c_cflag & kLineFlags) != (wanted.c_cflag & kLineFlags)) return false;
  if (rate == 0) return true;
  if (standardRate) return cfgetospeed(&got) == cfgetospeed(&wanted);
  uint32_t actual = 0;
  if (GetCustomBaudRate(fd, &actual) != 0) return false;
  uint64_t difference = actual > rate ? actual - rate : rate - actual;
  return difference * 50 <= rate;
}

}  // namespace

bool TermiosRate(uint32_t rate, speed_t* code) {
  switch (rate) {
#define TH_SERIAL_CASE(r) \
  case r:                 \
    *code = B##r;         \
    return true;
    TH_SERIAL_TERMIOS_RATES(TH_SERIAL_CASE)
#ifdef B460800
    TH_SERIAL_FAST_RATES(TH_SERIAL_CASE)
#endif
#undef TH_SERIAL_CASE
    default:
      return false;
  }
}

int ConfigureLine(int fd, const LineConfig& config) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return errno;
  cfmakeraw(&t);
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | PARMRK | IGNPAR);
  t.c_cflag |= CLOCAL | CREAD;
  if (!SetWord(t, config)) return EINVAL;
  t.c_cc[VMIN] = config.minBytes;
  t.c_cc[VTIME] = 0;
  speed_t code = B9600;
  const bool standard = config.baudRate != 0 && TermiosRate(config.baudRate, &code);
  if (standard && (cfsetispeed(&t, code) != 0 || cfsetospeed(&t, code) != 0)) return errno;
  if (tcsetattr(fd, TCSANOW, &t) != 0) return errno;
  if (config.baudRate != 0 && !standard) {
    if (int error = SetCustomBaudRate(fd, config.baudRate); error != 0) return error;
  }
  return SettingsInForce(fd, t, standard, config.baudRate) ? 0 : EINVAL;
}

}  // namespace serial
