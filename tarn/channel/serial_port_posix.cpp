// The serial port on POSIX: termios in raw mode.
//
// - Opened with O_NONBLOCK, waited on only with poll: no read or write ever
//   blocks beyond the channel's timeout.
// - Exclusive: flock(LOCK_EX | LOCK_NB) on the device (TIOCEXCL alone does
//   not stop a privileged process), plus TIOCEXCL against other programs,
//   both before the search for earlier openers (ClaimPort, port_holder.h).
//   A second open of a held device fails with "port busy". So does an open
//   of a device that another process already has open, lock or no lock:
//   two readers would share the line.
// - The line set-up (raw mode, word, rate, and reading the settings back so
//   that a driver dropping one fails Configure) is serial::ConfigureLine
//   (serial/line_posix.h); the channel asks for one and a half stop bits
//   with 5-bit words only. DTR and RTS are dropped after it. A terminal
//   without modem lines (a pseudo-terminal answers ENOTTY) simply has none
//   to drop.
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

#include "serial/line_posix.h"
#include "tarn/channel/port_holder.h"
#include "tarn/channel/port_name.h"
#include "tarn/channel/serial_port.h"

namespace tarn {
namespace {

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
    case ERANGE:
      return "not a port name: the ports are COM1 to COM256";
    default:
      return "system error";
  }
}

class PosixSerialPort final : public ISerialPort {
 public:
  ~PosixSerialPort() override {
    if (fd_ >= 0) Close();
  }

  bool Open(const char* name) override {
    if (fd_ >= 0) return Fail(EBUSY);
    std::string path;
    if (int error = ResolvePortName(name, &path); error != 0) return Fail(error);
    int d = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (d < 0) return Fail(errno);
    if (!isatty(d)) {
      ::close(d);
      return Fail(ENOTTY);
    }
    PortHolder other;
    if (int error = ClaimPort(d, path, &other); error != 0) {
      ::close(d);
      return Fail(error);
    }
    haveSaved_ = tcgetattr(d, &saved_) == 0;
    fd_ = d;
    return true;
  }

  bool IsOpen() const override { return fd_ >= 0; }

  bool Configure(const PortLineConfig& config) override {
    if (fd_ < 0) return Fail(EBADF);
    if (config.baudRate == 0) return Fail(EINVAL);  // 0 would keep the old rate
    serial::LineConfig line;
    line.baudRate = config.baudRate;
    line.dataBits = config.dataBits;
    line.parityCode = config.parityCode;
    line.stopBitsCode = config.stopBitsCode;
    if (int error = serial::ConfigureLine(fd_, line); error != 0) return Fail(error);
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd_, TIOCMBIC, &lines) != 0 && !NotSupported(errno)) return Fail(errno);
    return true;
  }

  bool SetTimeouts(uint32_t milliseconds) override {
    timeoutMs = milliseconds;
    return true;
  }

  void PurgeAll() override {
    if (fd_ >= 0) (void)tcflush(fd_, TCIOFLUSH);
  }
  // On a hung-up line (EIO) there is nothing left to discard.
  bool PurgeInput() override { return Flush(TCIFLUSH); }
  bool PurgeOutput() override { return Flush(TCOFLUSH); }

  bool SetBreak(bool on) override {
    if (fd_ < 0) return Fail(EBADF);
    if (ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) != 0) return Fail(errno);
    return true;
  }

  bool Escape(uint32_t code) override {
    if (fd_ < 0) return Fail(EBADF);
    switch (code) {
      case kSetXoff:
        return tcflow(fd_, TCOOFF) == 0 || Fail(errno);
      case kSetXon:
        return tcflow(fd_, TCOON) == 0 || Fail(errno);
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
    if (fd_ < 0) return FailIo(EBADF);
    Deadline deadline(timeoutMs);
    for (;;) {
      ssize_t n = ::write(fd_, &byte, 1);
      if (n == 1) return PortIo::kDone;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return FailIo(errno);
      PortIo waited = Wait(POLLOUT, deadline);
      if (waited != PortIo::kDone) return waited;
    }
  }

  PortIo Read(uint8_t* byte) override {
    if (fd_ < 0) return FailIo(EBADF);
    Deadline deadline(timeoutMs);
    for (;;) {
      PortIo waited = Wait(POLLIN, deadline);
      if (waited != PortIo::kDone) return waited;
      ssize_t n = ::read(fd_, byte, 1);
      if (n == 1) return PortIo::kDone;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return FailIo(errno);
      // Readable but nothing read: the line hung up, or another reader took
      // the byte; Wait tells the two apart on the next round.
      if (hungUp_) return FailIo(EIO);
    }
  }

  bool Close() override {
    if (fd_ < 0) return true;
    (void)ioctl(fd_, TIOCNXCL);
    if (haveSaved_) (void)tcsetattr(fd_, TCSANOW, &saved_);
    // The descriptor is released even when close reports an error; the
    // lock goes with it.
    int cancelState = 0;
    (void)pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancelState);
    (void)::close(fd_);
    (void)pthread_setcancelstate(cancelState, nullptr);
    fd_ = -1;
    haveSaved_ = false;
    hungUp_ = false;
    return true;
  }

  int32_t LastError() const override { return lastError; }
  const char* LastErrorReason() const override { return ReasonFor(lastError); }

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
      pollfd p{fd_, events, 0};
      int r = poll(&p, 1, deadline.Remaining());
      if (r < 0) {
        if (errno == EINTR) continue;
        return FailIo(errno);
      }
      if (r == 0) return PortIo::kTimedOut;
      hungUp_ = (p.revents & POLLHUP) != 0;
      if (p.revents & events) return PortIo::kDone;  // data first, even on a hung-up line
      if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return FailIo(EIO);
    }
  }

  bool Flush(int queue) {
    if (fd_ < 0) return Fail(EBADF);
    if (tcflush(fd_, queue) == 0 || errno == EIO) return true;
    return Fail(errno);
  }

  bool ModemLine(unsigned long request, int line) {
    if (ioctl(fd_, request, &line) == 0 || NotSupported(errno)) return true;
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

  int fd_ = -1;
  termios saved_{};
  bool haveSaved_ = false;
  bool hungUp_ = false;
  uint32_t timeoutMs = 0;
  int32_t lastError = 0;
};

}  // namespace

std::unique_ptr<ISerialPort> CreateLocalSerialPort() {
  return std::make_unique<PosixSerialPort>();
}

}  // namespace tarn
