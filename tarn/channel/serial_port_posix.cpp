// The serial port on POSIX: termios in raw mode.
//
// - Opened with O_NONBLOCK, waited on only with poll: no read or write ever
//   blocks beyond the channel's timeout.
// - Exclusive: flock(LOCK_EX | LOCK_NB) on the device (TIOCEXCL alone does
//   not stop a privileged process), plus TIOCEXCL against other programs.
//   A second open of a held device fails with "port busy". So does an open
//   of a device that another process already has open, lock or no lock
//   (port_holder.h): two readers would share the line.
// - CLOCAL and CREAD, no CRTSCTS, no IXON/IXOFF, no parity checking; DTR and
//   RTS dropped. A terminal without modem lines (a pseudo-terminal answers
//   ENOTTY) simply has none to drop.
// - Standard rates through cfsetospeed, any other through the kernel's
//   arbitrary-rate interface (custom_baud_posix.cpp).
// - Stop-bits code 1 (one and a half) selects CSTOPB: a UART gives one and
//   a half stop bits for 5-bit words that way (the channel asks for it with
//   5-bit words only).
// - The settings in force are read back after they are set: a driver that
//   silently drops one (a pseudo-terminal forces 8 data bits and no parity,
//   a UART may lack mark parity or a rate) fails Configure instead of
//   running the line with other settings. A rate outside the standard
//   table may differ by up to 2 % from the one asked for (the UART's
//   divisor), as the kernel itself allows.
// - The line hanging up (POLLHUP, EIO) fails a read or write at once rather
//   than letting it run into the timeout.
// - Close restores the terminal settings found at open and releases the lock;
//   thread cancellation is held off while it runs, so that a cancelled
//   caller cannot leave the descriptor half released.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <string>

#include "tarn/channel/custom_baud.h"
#include "tarn/channel/port_holder.h"
#include "tarn/channel/port_name.h"
#include "tarn/channel/serial_port.h"

namespace tarn {
namespace {

// Win32 extended-function codes.
enum : uint32_t {
  kSetXoff = 1,
  kSetXon = 2,
  kSetRts = 3,
  kClrRts = 4,
  kSetDtr = 5,
  kClrDtr = 6,
  kResetDev = 7,
  kSetBreak = 8,
  kClrBreak = 9,
};

struct StandardRate {
  uint32_t rate;
  speed_t code;
};

constexpr StandardRate kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},
#ifdef B460800
    {460800, B460800},   {500000, B500000},   {576000, B576000},   {921600, B921600},
    {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
#endif
};

bool LookupStandardRate(uint32_t rate, speed_t* code) {
  for (const StandardRate& r : kStandardRates) {
    if (r.rate == rate) {
      *code = r.code;
      return true;
    }
  }
  return false;
}

// ENOTTY and EINVAL: the terminal has no such line or function.
bool NotSupported(int error) {
  return error == ENOTTY || error == EINVAL;
}

const char* ReasonFor(int error) {
  switch (error) {
    case EBUSY:
    case EWOULDBLOCK:
      return "port busy";
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return "no such device";
    case EACCES:
    case EPERM:
      return "permission denied";
    case ENOTTY:
      return "not a serial device";
    case EIO:
      return "line hung up";
    case EBADMSG:
      return "port map unreadable";
    default:
      return "system error";
  }
}

class PosixSerialPort final : public ISerialPort {
 public:
  ~PosixSerialPort() override {
    if (fd >= 0) Close();
  }

  bool Open(const char* name) override {
    if (fd >= 0) return Fail(EBUSY);
    std::string path;
    if (int error = ResolvePortName(name, &path); error != 0) return Fail(error);
    int d = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (d < 0) return Fail(errno);
    if (!isatty(d)) {
      ::close(d);
      return Fail(ENOTTY);
    }
    PortHolder other;
    if (FindPortHolder(path, &other)) {
      ::close(d);
      return Fail(EBUSY);
    }
    if (flock(d, LOCK_EX | LOCK_NB) != 0) {
      int error = errno == EWOULDBLOCK ? EBUSY : errno;
      ::close(d);
      return Fail(error);
    }
    (void)ioctl(d, TIOCEXCL);
    haveSaved = tcgetattr(d, &saved) == 0;
    fd = d;
    return true;
  }

  bool IsOpen() const override { return fd >= 0; }

  bool Configure(const PortLineConfig& config) override {
    if (fd < 0) return Fail(EBADF);
    termios t{};
    if (tcgetattr(fd, &t) != 0) return Fail(errno);
    cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | PARMRK | IGNPAR);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    t.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
    t.c_cflag |= CLOCAL | CREAD;
    switch (config.dataBits) {
      case 5:
        t.c_cflag |= CS5;
        break;
      case 6:
        t.c_cflag |= CS6;
        break;
      case 7:
        t.c_cflag |= CS7;
        break;
      case 8:
        t.c_cflag |= CS8;
        break;
      default:
        return Fail(EINVAL);
    }
    switch (config.parityCode) {
      case 0:
        break;
      case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
      case 2:
        t.c_cflag |= PARENB;
        break;
      case 3:
#ifdef CMSPAR
        t.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
#else
        return Fail(EINVAL);
#endif
      default:
        return Fail(EINVAL);
    }
    if (config.stopBitsCode > 2) return Fail(EINVAL);
    if (config.stopBitsCode != 0) t.c_cflag |= CSTOPB;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    speed_t code = B9600;
    bool standard = LookupStandardRate(config.baudRate, &code);
    if (standard && (cfsetispeed(&t, code) != 0 || cfsetospeed(&t, code) != 0)) return Fail(errno);
    if (tcsetattr(fd, TCSANOW, &t) != 0) return Fail(errno);
    if (!standard) {
      int error = SetCustomBaudRate(fd, config.baudRate);
      if (error != 0) return Fail(error);
    }
    if (!SettingsInForce(t, standard, config.baudRate)) return Fail(EINVAL);
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd, TIOCMBIC, &lines) != 0 && !NotSupported(errno)) return Fail(errno);
    return true;
  }

  bool SetTimeouts(uint32_t milliseconds) override {
    timeoutMs = milliseconds;
    return true;
  }

  void PurgeAll() override {
    if (fd >= 0) (void)tcflush(fd, TCIOFLUSH);
  }
  // On a hung-up line (EIO) there is nothing left to discard.
  bool PurgeInput() override {
    return Flush(TCIFLUSH);
  }
  bool PurgeOutput() override {
    return Flush(TCOFLUSH);
  }

  bool SetBreak(bool on) override {
    if (fd < 0) return Fail(EBADF);
    if (ioctl(fd, on ? TIOCSBRK : TIOCCBRK) != 0) return Fail(errno);
    return true;
  }

  bool Escape(uint32_t code) override {
    if (fd < 0) return Fail(EBADF);
    switch (code) {
      case kSetXoff:
        return tcflow(fd, TCOOFF) == 0 || Fail(errno);
      case kSetXon:
        return tcflow(fd, TCOON) == 0 || Fail(errno);
      case kSetRts:
        return ModemLine(TIOCMBIS, TIOCM_RTS);
      case kClrRts:
        return ModemLine(TIOCMBIC, TIOCM_RTS);
      case kSetDtr:
        return ModemLine(TIOCMBIS, TIOCM_DTR);
      case kClrDtr:
        return ModemLine(TIOCMBIC, TIOCM_DTR);
      case kResetDev:
        return true;  // printers only; nothing to do on a serial line
      case kSetBreak:
        return SetBreak(true);
      case kClrBreak:
        return SetBreak(false);
      default:
        return Fail(EINVAL);
    }
  }

  PortIo Write(uint8_t byte) override {
    if (fd < 0) return FailIo(EBADF);
    Deadline deadline(timeoutMs);
    for (;;) {
      ssize_t n = ::write(fd, &byte, 1);
      if (n == 1) return PortIo::kDone;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return FailIo(errno);
      PortIo waited = Wait(POLLOUT, deadline);
      if (waited != PortIo::kDone) return waited;
    }
  }

  PortIo Read(uint8_t* byte) override {
    if (fd < 0) return FailIo(EBADF);
    Deadline deadline(timeoutMs);
    for (;;) {
      PortIo waited = Wait(POLLIN, deadline);
      if (waited != PortIo::kDone) return waited;
      ssize_t n = ::read(fd, byte, 1);
      if (n == 1) return PortIo::kDone;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return FailIo(errno);
      // Readable but nothing read: the line hung up, or another reader took
      // the byte; Wait tells the two apart on the next round.
      if (hungUp) return FailIo(EIO);
    }
  }

  bool Close() override {
    if (fd < 0) return true;
    (void)ioctl(fd, TIOCNXCL);
    if (haveSaved) (void)tcsetattr(fd, TCSANOW, &saved);
    // The descriptor is released even when close reports an error; the
    // lock goes with it.
    int cancelState = 0;
    (void)pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancelState);
    (void)::close(fd);
    (void)pthread_setcancelstate(cancelState, nullptr);
    fd = -1;
    haveSaved = false;
    hungUp = false;
    return true;
  }

  int32_t LastError() const override {
    return lastError;
  }
  const char* LastErrorReason() const override {
    return ReasonFor(lastError);
  }

 private:
  class Deadline {
   public:
    explicit Deadline(uint32_t ms)
        : end(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms)) {}
    // Milliseconds left, rounded up, at most INT_MAX.
    int Remaining() const {
      auto left =
          std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return 0;
      return left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
    }

   private:
    std::chrono::steady_clock::time_point end;
  };

  // Waits until `events` is possible, the deadline passes or the line fails.
  PortIo Wait(short events, const Deadline& deadline) {
    for (;;) {
      pollfd p{fd, events, 0};
      int r = poll(&p, 1, deadline.Remaining());
      if (r < 0) {
        if (errno == EINTR) continue;
        return FailIo(errno);
      }
      if (r == 0) return PortIo::kTimedOut;
      hungUp = (p.revents & POLLHUP) != 0;
      if (p.revents & events) return PortIo::kDone;  // data first, even on a hung-up line
      if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return FailIo(EIO);
    }
  }

  // True when the terminal reports the line settings of `wanted` (word
  // size, parity, stop bits, no hardware flow control) and the rate asked
  // for.
  bool SettingsInForce(const termios& wanted, bool standardRate, uint32_t rate) {
    termios got{};
    if (tcgetattr(fd, &got) != 0) return false;
    tcflag_t line = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS;
#ifdef CMSPAR
    line |= CMSPAR;
#endif
    if ((got.c_cflag & line) != (wanted.c_cflag & line)) return false;
    if (standardRate) return cfgetospeed(&got) == cfgetospeed(&wanted);
    uint32_t actual = 0;
    if (GetCustomBaudRate(fd, &actual) != 0) return false;
    uint64_t difference = actual > rate ? actual - rate : rate - actual;
    return difference * 50 <= rate;
  }

  bool Flush(int queue) {
    if (fd < 0) return Fail(EBADF);
    if (tcflush(fd, queue) == 0 || errno == EIO) return true;
    return Fail(errno);
  }

  bool ModemLine(unsigned long request, int line) {
    if (ioctl(fd, request, &line) == 0 || NotSupported(errno)) return true;
    return Fail(errno);
  }

  bool Fail(int error) {
    lastError = error;
    return false;
  }
  PortIo FailIo(int error) {
    lastError = error;
    return PortIo::kFailed;
  }

  int fd = -1;
  termios saved{};
  bool haveSaved = false;
  bool hungUp = false;
  uint32_t timeoutMs = 0;
  int32_t lastError = 0;
};

}  // namespace

std::unique_ptr<ISerialPort> CreatePlatformSerialPort() {
  return std::make_unique<PosixSerialPort>();
}

}  // namespace tarn
