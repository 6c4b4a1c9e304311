// --trace FILE: the bytes on the wire both ways, with timestamps.
//
// The download server offers no trace hook through its public interfaces, so
// tarnctl puts itself on the line: it opens the real device, creates a
// pseudo-terminal, hands the pseudo-terminal to the download server in place
// of the device and relays every byte between the two from a second thread,
// writing each chunk to FILE as it passes. This works for real ports, for
// the simulator and for a remote port (rfc2217://HOST:PORT: the relay is then
// the server's client, through the library's RFC 2217 port) alike, and costs
// nothing when --trace is not given (no relay exists then). Line settings
// (baud, data, parity, stop) are applied to the real device, or asked of the
// server, from the settings string; a server that does not confirm them is
// an error, as for the download server. Break conditions and modem lines are
// not relayed. POSIX only: on Windows --trace is refused with a usage error.
//
// The download password never reaches the file. When a password is given,
// the password step is masked by position: after the pager's status byte
// 'Y' (it asks for the password) the next ten host bytes are logged as "**"
// whatever they are, and so is every pager byte until the verdict (a line
// that echoes, noise, an early refusal); nothing is held back, so a hang-up
// or the end of the relay cannot write it in clear later. A new trace file
// is created readable by its owner only (0600). A trace file that cannot be
// written at the start is an error; bytes lost later are reported when the
// relay ends. The relay's end never waits on a side that takes no more
// bytes (a device that keeps sending after the download server stopped
// reading).
#ifndef TARNCTL_TRACE_H
#define TARNCTL_TRACE_H

#include <array>
#include <memory>
#include <optional>
#include <string>

namespace tarnctl {

class TraceRelay {
 public:
  virtual ~TraceRelay() = default;
  // The device the download server should open instead of the real one.
  virtual std::string HostDevice() const = 0;
  // Bytes relayed so far, host to pager and pager to host.
  virtual unsigned long long BytesToPager() const = 0;
  virtual unsigned long long BytesToHost() const = 0;
  // Why the trace file is incomplete ("" when it is whole).
  virtual std::string TraceProblem() const = 0;
};

// Throws Error: exit 3 when the device cannot be opened (busy, missing),
// exit 4 when the trace file cannot be created.
std::unique_ptr<TraceRelay> StartTraceRelay(
    const std::string& device, const std::string& settings, const std::string& traceFile,
    const std::optional<std::array<unsigned char, 10>>& password = std::nullopt);

}  // namespace tarnctl

#endif  // TARNCTL_TRACE_H
