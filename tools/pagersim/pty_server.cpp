#include "tools/pagersim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <optional>
#include <utility>

#include "serial/line_posix.h"

namespace pagersim {

namespace {

// How much later than planned a wait may end before the simulator counts
// itself as kept from running (beyond an ordinary scheduling delay).
constexpr uint64_t kLateUs = 20'000;

std::string Errno(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// Raw 8N1 line with no flow control and the receiver on; a read blocks
// until a byte comes. Rate 0 keeps the terminal's rate.
bool MakeRaw(int fd, uint32_t baud, std::string* error) {
  serial::LineConfig line;
  line.baudRate = baud;
  line.minBytes = 1;
  if (int e = serial::ConfigureLine(fd, line); e != 0) {
    *error = "cannot set up the line at " + std::to_string(baud) + " baud: " + std::strerror(e);
    return false;
  }
  return true;
}

void LogByte(bool verbose, uint64_t us, const char* arrow, uint8_t byte) {
  if (verbose) std::fprintf(stderr, "pagersim: %10.3f ms %s %02X\n", us / 1000.0, arrow, byte);
}

}  // namespace

PtyServer::PtyServer(PagerConfig config) : pager_(std::move(config)) {}

PtyServer::~PtyServer() {
  Close();
}

uint64_t PtyServer::NowUs() const {
  const uint64_t ns = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                std::chrono::steady_clock::now().time_since_epoch())
                                                .count());
  return (ns - startNs_) / 1000 - lostUs_;
}

void PtyServer::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (symlinkMade_) ::unlink(options_.symlinkPath.c_str());
  symlinkMade_ = false;
  for (int& end : wakePipe_) {
    if (end >= 0) ::close(end);
    end = -1;
  }
}

bool PtyServer::Start(const ServeOptions& options, std::string* error) {
  std::string scratch;
  if (error == nullptr) error = &scratch;
  Close();
  options_ = options;
  startNs_ = 0;
  startNs_ = NowUs() * 1000;
  if (::pipe2(wakePipe_, O_NONBLOCK | O_CLOEXEC) != 0) {
    *error = Errno("pipe");
    return false;
  }
  if (options_.ttyPath.empty()) {
    fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0) {
      *error = Errno("cannot create a pseudo-terminal");
      Close();
      return false;
    }
    char name[128];
    if (::ptsname_r(fd_, name, sizeof name) != 0) {
      *error = Errno("ptsname");
      Close();
      return false;
    }
    devicePath_ = name;
    // Put the slave in raw mode once, so that a host that does not set its
    // own line settings gets no echo and no translation. The settings stay
    // with the pair while the master is open.
    int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
      *error = Errno("cannot open " + devicePath_);
      Close();
      return false;
    }
    speed_t code = 0;
    const bool raw =
        MakeRaw(slave, serial::TermiosRate(options_.baud, &code) ? options_.baud : 0, error);
    ::close(slave);
    if (!raw) {
      Close();
      return false;
    }
  } else {
    devicePath_ = options_.ttyPath;
    fd_ = ::open(options_.ttyPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) {
      *error = Errno("cannot open " + options_.ttyPath);
      Close();
      return false;
    }
    if (!MakeRaw(fd_, options_.baud, error)) {
      Close();
      return false;
    }
    tcflush(fd_, TCIOFLUSH);
  }
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);

  if (!options_.symlinkPath.empty()) {
    struct stat st {};
    if (::lstat(options_.symlinkPath.c_str(), &st) == 0) {
      if (!S_ISLNK(st.st_mode)) {
        *error = options_.symlinkPath + " exists and is not a symbolic link";
        Close();
        return false;
      }
      ::unlink(options_.symlinkPath.c_str());
    }
    if (::symlink(devicePath_.c_str(), options_.symlinkPath.c_str()) != 0) {
      *error = Errno("cannot create symlink " + options_.symlinkPath);
      Close();
      return false;
    }
    symlinkMade_ = true;
  }
  stopRequested_ = false;
  return true;
}

void PtyServer::Stop() {
  stopRequested_ = true;
  if (wakePipe_[1] >= 0) {
    const char byte = 1;
    ssize_t ignored = ::write(wakePipe_[1], &byte, 1);
    (void)ignored;
  }
}

// The state of one Serve() run: the bytes on their way and the pacing.
struct PtyServer::Line {
  bool isPty = true;
  uint64_t frameUs = 0;                               // 0: no rate emulation
  std::deque<std::pair<uint8_t, uint64_t>> incoming;  // host bytes and when the pager hears them
  std::deque<uint8_t> outgoing;
  uint64_t lastInDue = 0;
  uint64_t nextSendUs = 0;
  bool connected = false;
  bool wantWrite = false;
};

void PtyServer::Hangup(Line& line) {
  pager_.LineDropped(NowUs());
  line.incoming.clear();
  line.outgoing.clear();
  tcflush(fd_, TCIOFLUSH);
  line.connected = false;
  line.wantWrite = false;
}

bool PtyServer::RunPager(Line& line, uint64_t now) {
  while (!line.incoming.empty() && line.incoming.front().second <= now) {
    LogByte(options_.verbose, line.incoming.front().second, "host ->", line.incoming.front().first);
    pager_.Receive(line.incoming.front().first, line.incoming.front().second);
    line.incoming.pop_front();
  }
  for (uint8_t b : pager_.Pull(now)) {
    LogByte(options_.verbose, now, "<- pager", b);
    line.outgoing.push_back(b);
  }
  if (pager_.Disconnected()) return false;
  if (!line.connected) line.outgoing.clear();  // nobody holds the line
  return true;
}

std::optional<PtyServer::End> PtyServer::Send(Line& line, uint64_t now, std::string* error) {
  line.wantWrite = false;
  // An idle line starts sending at once; a busy one keeps its frame rhythm.
  if (line.frameUs != 0 && !line.outgoing.empty() && line.nextSendUs + line.frameUs < now)
    line.nextSendUs = now;
  while (!line.outgoing.empty() && (line.frameUs == 0 || line.nextSendUs <= now)) {
    uint8_t chunk[512];
    size_t n = line.frameUs == 0 ? std::min(line.outgoing.size(), sizeof chunk) : 1;
    std::copy_n(line.outgoing.begin(), n, chunk);
    ssize_t written = ::write(fd_, chunk, n);
    if (written > 0) {
      line.outgoing.erase(line.outgoing.begin(), line.outgoing.begin() + written);
      if (line.frameUs != 0) line.nextSendUs += line.frameUs;
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno == EAGAIN) {
      line.wantWrite = true;
    } else if (line.isPty) {
      Hangup(line);
      if (options_.once) return End::kHostClosed;
    } else {
      *error = Errno("write to " + devicePath_);
      return End::kFailed;
    }
    break;
  }
  return std::nullopt;
}

uint64_t PtyServer::WaitUs(const Line& line, uint64_t now) {
  constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
  uint64_t wake = kNever;
  if (!line.incoming.empty()) wake = std::min(wake, line.incoming.front().second);
  if (auto t = pager_.NextOutputTime()) wake = std::min(wake, *t);
  if (auto t = pager_.NextDeadline()) wake = std::min(wake, *t);
  if (!line.outgoing.empty() && line.frameUs != 0 && !line.wantWrite)
    wake = std::min(wake, line.nextSendUs);
  uint64_t waitUs = kNever;
  if (wake != kNever) waitUs = wake <= now ? 0 : wake - now;
  // While no host holds the pty, its master reports a hang-up at once, so
  // it is not polled; a short sleep notices the next host instead.
  if (!line.connected) waitUs = std::min<uint64_t>(waitUs, 20000);
  return std::min<uint64_t>(waitUs, 60'000'000);
}

std::optional<PtyServer::End> PtyServer::Wait(const Line& line, uint64_t waitUs, short* lineEvents,
                                              std::string* error) {
  timespec waitTime{static_cast<time_t>(waitUs / 1000000),
                    static_cast<long>(waitUs % 1000000) * 1000};
  pollfd fds[3];
  nfds_t count = 0;
  fds[count++] = {wakePipe_[0], POLLIN, 0};
  int stopIndex = -1;
  if (options_.stopFd >= 0) {
    stopIndex = static_cast<int>(count);
    fds[count++] = {options_.stopFd, POLLIN, 0};
  }
  int lineIndex = -1;
  if (line.connected) {
    lineIndex = static_cast<int>(count);
    fds[count++] = {fd_, static_cast<short>(POLLIN | (line.wantWrite ? POLLOUT : 0)), 0};
  }
  *lineEvents = -1;
  if (::ppoll(fds, count, &waitTime, nullptr) < 0) {
    if (errno == EINTR) return std::nullopt;
    *error = Errno("poll");
    return End::kFailed;
  }
  if (fds[0].revents != 0) {
    char drain[64];
    while (::read(wakePipe_[0], drain, sizeof drain) > 0) {
    }
    if (stopRequested_) return End::kStopped;
  }
  if (stopIndex >= 0 && fds[stopIndex].revents != 0) {
    char buffer[256];
    ssize_t n = ::read(options_.stopFd, buffer, sizeof buffer);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return End::kStopped;
  }
  *lineEvents = lineIndex >= 0 ? fds[lineIndex].revents : 0;
  return std::nullopt;
}

std::optional<PtyServer::End> PtyServer::Receive(Line& line, uint64_t now, std::string* error) {
  uint8_t buffer[512];
  ssize_t n = ::read(fd_, buffer, sizeof buffer);
  if (n > 0) {
    for (ssize_t i = 0; i < n; ++i) {
      const uint64_t due = line.frameUs == 0 ? now : std::max(line.lastInDue + line.frameUs, now);
      line.lastInDue = due;
      line.incoming.emplace_back(buffer[i], due);
    }
  } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
    if (!line.isPty) {
      *error = n == 0 ? "end of file on " + devicePath_ : Errno("read from " + devicePath_);
      return End::kFailed;
    }
    Hangup(line);
    if (options_.once) return End::kHostClosed;
  }
  return std::nullopt;
}

PtyServer::End PtyServer::Serve(std::string* error) {
  std::string scratch;
  if (error == nullptr) error = &scratch;
  if (fd_ < 0) {
    *error = "not started";
    return End::kFailed;
  }
  Line line;
  line.isPty = options_.ttyPath.empty();
  // A real tty is paced by its hardware; a pty only by the emulation.
  line.frameUs = line.isPty && options_.baud != 0 ? 10'000'000ull / options_.baud : 0;
  line.connected = !line.isPty;
  for (;;) {
    if (stopRequested_) return End::kStopped;
    uint64_t now = NowUs();
    if (!RunPager(line, now)) {
      Close();
      return End::kDisconnected;
    }
    if (auto end = Send(line, now, error)) return *end;
    short lineEvents = -1;
    const uint64_t waitUs = WaitUs(line, now);
    if (auto end = Wait(line, waitUs, &lineEvents, error)) return *end;
    if (lineEvents < 0) continue;  // a signal interrupted the wait
    const uint64_t looked = now;
    now = NowUs();
    if (now > looked + waitUs + kLateUs) {
      // Overslept: the clock stands still from when the wait began if the
      // host's bytes are waiting (they may have come at any time since),
      // else from the planned end of the wait, whose timers are due.
      const uint64_t resume = (lineEvents & POLLIN) ? looked : looked + waitUs;
      lostUs_ += now - resume;
      now = resume;
    }
    if (!line.connected) {
      pollfd probe{fd_, POLLIN, 0};
      if (::poll(&probe, 1, 0) >= 0 && (probe.revents & POLLHUP) == 0) line.connected = true;
      continue;
    }
    if (lineEvents & (POLLIN | POLLHUP | POLLERR))
      if (auto end = Receive(line, now, error)) return *end;
  }
}

}  // namespace pagersim
