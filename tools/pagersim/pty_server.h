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
#ifndef TOOLS_PAGERSIM_PTY_SERVER_H
#define TOOLS_PAGERSIM_PTY_SERVER_H

#include <atomic>
#include <cstdint>
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
  enum class End { Stopped, HostClosed, Disconnected, Failed };

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
  // Makes Serve return End::Stopped; safe from another thread and from a
  // signal handler.
  void Stop();

  // Only while Serve is not running.
  Pager& pager() { return pager_; }

 private:
  uint64_t NowUs() const;
  void Close();

  Pager pager_;
  ServeOptions options_;
  std::string devicePath_;
  int fd_ = -1;
  int wakePipe_[2] = {-1, -1};
  bool symlinkMade_ = false;
  uint64_t startNs_ = 0;
  std::atomic<bool> stopRequested_{false};
};

}  // namespace pagersim

#endif  // TOOLS_PAGERSIM_PTY_SERVER_H
