// pagersim::PtyServer: serves a simulated pager over a pseudo-terminal (or an
// existing tty) in real time.
//
// Start() creates the pty pair (the slave is left in raw mode) or opens the
// tty; Serve() then runs the pager until Stop(), until the stop descriptor
// reaches end of file, until the host closes the line (with `once`), or until
// a Disconnect fault cuts the line. The host is seen as connected while some
// process holds the pty slave open; when the last one closes it, the pager
// loses the line (Pager::LineDropped) and pending bytes are discarded.
//
// With `baud` set, bytes move at the rate of that baud with 10-bit frames in
// both directions: the pager hears each host byte one frame time after the
// previous one and sends its own bytes no faster than that.
//
// The pager's clock stands still while the simulator is kept from running (a
// starved machine): a wait that ends later than planned counts only up to
// its planned end, or, when host bytes are waiting after it, not at all (they
// are heard as of the moment the simulator began waiting). So the host is
// never blamed for the simulator's own delay (a header or block taken as cut
// off after the pager's silence timeout), and the pager's answers come late
// in real time exactly as a late simulator sends them.
#ifndef TOOLS_PAGERSIM_PTY_SERVER_H
#define TOOLS_PAGERSIM_PTY_SERVER_H

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "tools/pagersim/pager.h"

namespace pagersim {

struct ServeOptions {
  std::string ttyPath;      // serve this tty instead of creating a pty
  std::string symlinkPath;  // stable symlink to the pty slave (removed at the end)
  bool once = false;        // end when the host closes the pty after opening it (pty only)
  uint32_t baud = 0;        // line-rate emulation (0: off); with ttyPath: the line speed
  int stopFd = -1;          // end when this descriptor reaches end of file
  bool verbose = false;     // log every byte to stderr as it passes
};

class PtyServer {
 public:
  enum class End { kStopped, kHostClosed, kDisconnected, kFailed };

  explicit PtyServer(PagerConfig config = {});
  ~PtyServer();
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  // Creates the pty (or opens the tty). On failure returns false with a
  // message in *error.
  bool Start(const ServeOptions& options, std::string* error);
  // The pty slave (or the tty) the host should open.
  const std::string& DevicePath() const { return devicePath_; }
  // Serves until one of the end conditions; *error is set for Failed.
  End Serve(std::string* error = nullptr);
  // Makes Serve return End::kStopped; safe from another thread and from a
  // signal handler.
  void Stop();

  // Only while Serve is not running.
  Pager& pager() { return pager_; }

 private:
  // The pager's clock (see above): microseconds since Start, less the time
  // the simulator was kept from running.
  uint64_t NowUs() const;
  void Close();

  // The steps of Serve(); those that return an End end the run with it.
  struct Line;
  void Hangup(Line& line);  // the host let go: pending bytes are dropped
  // Hands the pager the host bytes that are due and queues its answer;
  // false when a fault cut the line.
  bool RunPager(Line& line, uint64_t now);
  // Writes what may go out now (at the emulated rate).
  std::optional<End> Send(Line& line, uint64_t now, std::string* error);
  // Microseconds until something is due.
  uint64_t WaitUs(const Line& line, uint64_t now);
  // Waits for the line, Stop() or the stop descriptor. *lineEvents: the
  // line's poll events, or -1 when a signal interrupted the wait.
  std::optional<End> Wait(const Line& line, uint64_t waitUs, short* lineEvents, std::string* error);
  // Reads the host's bytes and schedules when the pager hears them.
  std::optional<End> Receive(Line& line, uint64_t now, std::string* error);

  Pager pager_;
  ServeOptions options_;
  std::string devicePath_;
  uint64_t lostUs_ = 0;  // time the simulator overslept its waits
  int fd_ = -1;
  int wakePipe_[2] = {-1, -1};
  bool symlinkMade_ = false;
  uint64_t startNs_ = 0;
  std::atomic<bool> stopRequested_{false};
};

}  // namespace pagersim

#endif  // TOOLS_PAGERSIM_PTY_SERVER_H
