// --trace FILE: the bytes on the wire both ways, with timestamps.
//
// The download server offers no trace hook through its public interfaces, so
// tarnctl puts itself on the line: it opens the real device, creates a
// pseudo-terminal, hands the pseudo-terminal to the download server in place
// of the device and relays every byte between the two from a second thread,
// writing each chunk to FILE as it passes. This works for real ports and for
// the simulator alike, and costs nothing when --trace is not given (no relay
// exists then). Line settings (baud, data, parity, stop) are applied to the
// real device from the settings string. Break conditions and modem lines are
// not relayed. POSIX only.
#ifndef TARNCTL_TRACE_H
#define TARNCTL_TRACE_H

#include <memory>
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
};

// Throws Error: exit 3 when the device cannot be opened (busy, missing),
// exit 4 when the trace file cannot be created.
std::unique_ptr<TraceRelay> StartTraceRelay(const std::string& device, const std::string& settings,
                                            const std::string& traceFile);

}  // namespace tarnctl

#endif  // TARNCTL_TRACE_H
