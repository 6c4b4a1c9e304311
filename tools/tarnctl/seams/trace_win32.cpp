// --trace on Windows: no relay exists there yet.
#include "errors.h"
#include "trace.h"

namespace tarnctl {

std::unique_ptr<TraceRelay> StartTraceRelay(const std::string&, const std::string&,
                                            const std::string&,
                                            const std::optional<std::array<unsigned char, 10>>&) {
  throw Error(kExitUsage, "--trace is available on POSIX systems only",
              "use a serial port monitor of the system on Windows");
}

}  // namespace tarnctl
