// The --trace relay on POSIX: the pager's line <-> a pseudo-terminal, logging
// every chunk with its time since the start of the relay. The pager's line
// is the real device node, or a network serial server's line reached through
// the library's RFC 2217 port (tarn/channel/rfc2217_port.h), set up with the
// same line settings; the trace and its masking are the same for both.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "errors.h"
#include "platform.h"
#include "serial/ascii.h"
#include "serial/line_posix.h"
#include "serial/numbers.h"
#include "serial/remote_port.h"
#include "settings.h"
#include "tarn/channel/net_socket.h"
#include "tarn/channel/port_holder.h"
#include "tarn/channel/rfc2217_port.h"
#include "trace.h"

namespace tarnctl {
namespace {

// Line settings of the pager's line from the settings string, read as the
// channel reads them; the defaults are the channel's (9600 8N1).
serial::LineConfig LineFromSettings(const std::string& settings) {
  serial::LineConfig line;
  auto value = [&](const char* key, const char* fallback) {
    return SettingsValue(settings, key).value_or(fallback);
  };
  line.baudRate = serial::ReadStrtoul32(value("baud", "9600").c_str());
  line.dataBits = static_cast<uint8_t>(serial::ReadStrtoul32(value("data", "8").c_str()));
  const std::string parity = value("parity", "no");
  line.parityCode = serial::EqualsNoCase(parity, "odd")    ? 1
                    : serial::EqualsNoCase(parity, "even") ? 2
                    : serial::EqualsNoCase(parity, "mark") ? 3
                                                           : 0;
  const std::string stop = value("stop", "1");
  line.stopBitsCode = stop == "1.5" ? 1 : stop == "2" ? 2 : 0;
  return line;
}

// The real device is set up as the channel sets it up (serial/line_posix.h),
// so every rate the channel can run, the relay can run.
void ConfigureLine(int fd, const std::string& device, const std::string& settings) {
  if (int error = serial::ConfigureLine(fd, LineFromSettings(settings)); error != 0)
    throw Error(kExitPort,
                "--trace: cannot set up " + device + " (" + settings + "): " + std::strerror(error),
                "check that the device takes these settings");
}

// A remote line waits on its own socket, which the port keeps to itself, so
// the relay takes turns: at most this long for the pager's bytes, then it
// passes on what the host wrote meanwhile. A turn is about two bytes' time
// at 9600 baud while bytes flow; after kRemoteQuietTurns turns without a
// byte either way (the protocol's pauses) the turns grow to
// kRemoteIdleTurnMs, so that an idle line costs few system calls and the
// host's first byte after a pause waits at most that long.
constexpr uint32_t kRemoteTurnMs = 2;
constexpr uint32_t kRemoteIdleTurnMs = 10;
constexpr int kRemoteQuietTurns = 25;
// How long one byte may take to go out to the server.
constexpr uint32_t kRemoteWriteMs = 1000;

class PtyRelay final : public TraceRelay {
 public:
  PtyRelay(const std::string& device, const std::string& settings, const std::string& file,
           const std::optional<std::array<unsigned char, 10>>& password)
      : password_(password) {
    int traceFd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    trace_ = traceFd >= 0 ? fdopen(traceFd, "w") : nullptr;
    if (!trace_) {
      int e = errno;
      if (traceFd >= 0) ::close(traceFd);
      throw Error(kExitFile, "cannot create the trace file " + file + ": " + std::strerror(e));
    }
    if (serial::IsRemotePortName(device))
      OpenRemote(device, settings);
    else
      OpenDevice(device, settings);
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 || !ptsname(master_)) {
      Cleanup();
      throw Error(kExitPort, "--trace: cannot create a pseudo-terminal");
    }
    slaveName_ = ptsname(master_);
    // Held open for the whole job so the pseudo-terminal never hangs up
    // between two operations; raw, so it never echoes.
    slave_ = ::open(slaveName_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    if (slave_ < 0 || tcgetattr(slave_, &t) != 0 || pipe(wake_) != 0) {
      Cleanup();
      throw Error(kExitPort, "--trace: cannot prepare the pseudo-terminal");
    }
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
    int flags = fcntl(master_, F_GETFL);
    fcntl(master_, F_SETFL, flags | O_NONBLOCK);
    start_ = platform::NowMs();
    std::fprintf(trace_,
                 "# tarnctl trace of %s (%s)\n# time in ms; > host to pager, < pager to "
                 "host\n",
                 device.c_str(), settings.c_str());
    if (password_) std::fprintf(trace_, "# the download password is shown as ** (masked)\n");
    if (std::fflush(trace_) != 0 || std::ferror(trace_)) {
      int e = errno;
      Cleanup();
      throw Error(kExitFile, "cannot write the trace file " + file + ": " + std::strerror(e));
    }
    thread_ = std::thread([this] { remote_ ? RunRemote() : Run(); });
  }

  ~PtyRelay() override {
    if (thread_.joinable()) {
      char c = 'x';
      if (write(wake_[1], &c, 1) < 0) {
      }
      thread_.join();
    }
    if (trace_) {
      std::fprintf(trace_, "# end: %llu bytes to the pager, %llu bytes to the host\n",
                   BytesToPager(), BytesToHost());
      if (std::fflush(trace_) != 0 || std::ferror(trace_)) NoteProblem();
    }
    Cleanup();
  }

  std::string HostDevice() const override { return slaveName_; }
  unsigned long long BytesToPager() const override { return toPager_; }
  unsigned long long BytesToHost() const override { return toHost_; }
  std::string TraceProblem() const override {
    return problem_ ? std::strerror(problem_) : std::string();
  }

 private:
  // The real device node, claimed as the download server claims it.
  void OpenDevice(const std::string& device, const std::string& settings) {
    device_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    tarn::PortHolder holder;
    int claim = device_ < 0 ? errno : tarn::ClaimPort(device_, device, &holder);
    if (claim != 0) {
      Cleanup();
      std::string why =
          holder.pid != 0 ? " held by PID " + std::to_string(holder.pid) + " (" + holder.name + ")"
                          : " (" + std::string(std::strerror(claim)) + ")";
      throw Error(kExitPort, (claim == EBUSY ? "port busy: " : "cannot open port ") + device + why,
                  "check the port name and that no other program uses it");
    }
    try {
      ConfigureLine(device_, device, settings);
    } catch (...) {
      Cleanup();  // closes the trace file and the device
      throw;
    }
  }

  // A network serial server's line: the server must take the settings, as
  // the download server requires of it.
  void OpenRemote(const std::string& url, const std::string& settings) {
    remote_ = std::make_unique<tarn::Rfc2217Port>(tarn::CreatePlatformNetSocket());
    if (!remote_->Open(url.c_str())) {
      const std::string reason =
          remote_->LastErrorReason() != nullptr ? remote_->LastErrorReason() : "cannot connect";
      remote_.reset();
      Cleanup();
      throw Error(kExitPort,
                  reason == "port busy" ? "port busy: " + serial::ShownPortName(url)
                                        : "cannot open port " + url + ": " + reason,
                  "check the server and that no other client uses its line");
    }
    const serial::LineConfig line = LineFromSettings(settings);
    if (!remote_->Configure({line.baudRate, line.dataBits, line.parityCode, line.stopBitsCode})) {
      Cleanup();
      throw Error(kExitPort, "--trace: the server at " + url + " does not take " + settings,
                  "check that the server's line takes these settings");
    }
  }

  void Cleanup() {
    // The exclusive mode outlives the descriptor on a pseudo-terminal.
    if (device_ >= 0) (void)ioctl(device_, TIOCNXCL);
    if (remote_) std::exchange(remote_, nullptr)->Close();  // the server frees its line
    for (int* fd : {&device_, &master_, &slave_, &wake_[0], &wake_[1]})
      if (*fd >= 0) ::close(std::exchange(*fd, -1));
    if (trace_) std::fclose(std::exchange(trace_, nullptr));
  }

  void NoteProblem() {
    int expected = 0;
    problem_.compare_exchange_strong(expected, errno ? errno : EIO);
  }

  void Log(char direction, const unsigned char* data, size_t n, const char* note = nullptr) {
    if (n == 0) return;
    std::fprintf(trace_, "%10.3f %c", platform::NowMs() - start_, direction);
    for (size_t i = 0; i < n; ++i) {
      if (note)
        std::fprintf(trace_, " **");
      else
        std::fprintf(trace_, " %02X", data[i]);
    }
    if (note) std::fprintf(trace_, "  # %s", note);
    std::fputc('\n', trace_);
    if (std::fflush(trace_) != 0 || std::ferror(trace_)) NoteProblem();
  }

  // Host bytes: the first ten after the pager's 'Y' are masked, whatever
  // they are; an eleventh host byte ends the password step.
  void LogToPager(const unsigned char* data, size_t n) {
    size_t masked = 0;
    if (inPasswordStep_) {
      masked = std::min(n, password_->size() - sent_.size());
      sent_.insert(sent_.end(), data, data + masked);
      Log('>', data, masked, "the download password, masked");
      if (masked < n) inPasswordStep_ = false;
    }
    Log('>', data + masked, n - masked);
  }

  // Pager bytes of the password step: masked while the host is still
  // sending the password (noise, an early refusal, an echo) and, after it,
  // as long as they could be the echo of a password byte. The first other
  // byte is the verdict: shown, and the step is over.
  void LogToHost(const unsigned char* data, size_t n) {
    size_t i = 0;
    if (inPasswordStep_) {
      while (i < n && (sent_.size() < password_->size() ||
                       std::find(sent_.begin(), sent_.end(), data[i]) != sent_.end()))
        ++i;
      Log('<', data, i, "masked while the password goes out");
      if (i < n) inPasswordStep_ = false;  // data[i] is the verdict
    }
    Log('<', data + i, n - i);
    // The pager's status byte 'Y': it asks for the password next.
    if (password_ && !inPasswordStep_ && i < n && data[n - 1] == 'Y') {
      inPasswordStep_ = true;
      sent_.clear();
    }
  }

  // Writes everything, waiting for room; false when the other side is gone
  // or the relay is told to stop (a side that takes no more bytes never
  // holds the relay up at its end).
  bool WriteAll(int fd, const unsigned char* data, ssize_t n) {
    while (n > 0) {
      ssize_t w = ::write(fd, data, static_cast<size_t>(n));
      if (w > 0) {
        data += w;
        n -= w;
      } else if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
        pollfd p[2] = {{fd, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
        if (poll(p, 2, 100) > 0 && p[1].revents) return false;
      } else {
        return false;
      }
    }
    return true;
  }

  void Run() {
    unsigned char buffer[4096];
    while (true) {
      pollfd fds[3] = {{master_, POLLIN, 0}, {device_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (poll(fds, 3, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[2].revents) return;
      if (fds[0].revents & POLLIN) {
        ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
          LogToPager(buffer, static_cast<size_t>(n));
          toPager_ += static_cast<unsigned long long>(n);
          if (!WriteAll(device_, buffer, n)) {
            if (Stopping()) return;
            std::fprintf(trace_, "# the device stopped taking bytes: %s\n", std::strerror(errno));
            HangUpHost();
            return;
          }
        }
      }
      if (fds[1].revents & POLLIN) {
        ssize_t n = ::read(device_, buffer, sizeof buffer);
        if (n > 0) {
          LogToHost(buffer, static_cast<size_t>(n));
          toHost_ += static_cast<unsigned long long>(n);
          if (!WriteAll(master_, buffer, n) && Stopping()) return;
        }
      }
      if (fds[1].revents & (POLLHUP | POLLERR) && !(fds[1].revents & POLLIN)) {
        std::fprintf(trace_, "%10.3f # the device hung up\n", platform::NowMs() - start_);
        std::fflush(trace_);
        HangUpHost();
        return;
      }
    }
  }

  // The remote relay's loop (see kRemoteTurnMs): the host's bytes go out one
  // by one as the download server sends them; the pager's bytes come in as
  // the server passes them on, all that are there at once.
  void RunRemote() {
    unsigned char buffer[4096];
    int quietTurns = 0;
    while (true) {
      pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (poll(fds, 2, 0) < 0 && errno != EINTR) return;
      if (fds[1].revents) return;
      ssize_t n = fds[0].revents & POLLIN ? ::read(master_, buffer, sizeof buffer) : 0;
      if (n > 0) {
        LogToPager(buffer, static_cast<size_t>(n));
        toPager_ += static_cast<unsigned long long>(n);
        remote_->SetTimeouts(kRemoteWriteMs);
        for (ssize_t i = 0; i < n; ++i)
          if (remote_->Write(buffer[i]) != tarn::PortIo::kDone) return ServerLost();
      }
      size_t got = 0;
      remote_->SetTimeouts(quietTurns < kRemoteQuietTurns ? kRemoteTurnMs : kRemoteIdleTurnMs);
      tarn::PortIo io = tarn::PortIo::kTimedOut;
      while (got < sizeof buffer && (io = remote_->Read(buffer + got)) == tarn::PortIo::kDone) {
        ++got;
        remote_->SetTimeouts(0);  // the rest of what is there, without waiting
      }
      quietTurns = n > 0 || got > 0 ? 0 : std::min(quietTurns + 1, kRemoteQuietTurns);
      if (got > 0) {
        LogToHost(buffer, got);
        toHost_ += got;
        if (!WriteAll(master_, buffer, static_cast<ssize_t>(got)) && Stopping()) return;
      }
      if (io == tarn::PortIo::kFailed) return ServerLost();
    }
  }

  void ServerLost() {
    std::fprintf(trace_, "%10.3f # the server dropped the connection: %s\n",
                 platform::NowMs() - start_,
                 remote_->LastErrorReason() != nullptr ? remote_->LastErrorReason() : "lost");
    std::fflush(trace_);
    HangUpHost();
  }

  bool Stopping() const {
    pollfd p{wake_[0], POLLIN, 0};
    return poll(&p, 1, 0) > 0;
  }

  // The host's side hangs up too, so that the download server notices the
  // lost device at its next read instead of waiting out its timeouts.
  void HangUpHost() { ::close(std::exchange(master_, -1)); }

  std::optional<std::array<unsigned char, 10>> password_;
  // The password step: from the pager's 'Y' to its verdict.
  bool inPasswordStep_ = false;
  std::vector<unsigned char> sent_;  // the host's bytes of the step so far
  std::atomic<int> problem_{0};      // errno of the first failed write to the file
  FILE* trace_ = nullptr;
  int device_ = -1, master_ = -1, slave_ = -1;
  std::unique_ptr<tarn::Rfc2217Port> remote_;  // the line of a network serial server
  int wake_[2] = {-1, -1};
  std::string slaveName_;
  double start_ = 0;
  std::atomic<unsigned long long> toPager_{0}, toHost_{0};
  std::thread thread_;
};

}  // namespace

std::unique_ptr<TraceRelay> StartTraceRelay(
    const std::string& device, const std::string& settings, const std::string& traceFile,
    const std::optional<std::array<unsigned char, 10>>& password) {
  return std::make_unique<PtyRelay>(device, settings, traceFile, password);
}

}  // namespace tarnctl
