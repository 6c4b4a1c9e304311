// Remote ports (rfc2217://HOST:PORT) as tarnctl sees them: the state of a
// network serial server's line, found by connecting to it as the download
// server would and letting go at once.
#ifndef TARNCTL_REMOTE_PORT_H
#define TARNCTL_REMOTE_PORT_H

#include <string>

#include "platform.h"

namespace tarnctl {

// kFree when the server serves the line; kBusy when it serves another
// client; kCannotOpen otherwise, with the reason in *detail ("connection
// refused", "no answer from the server", "host not found", ...). Bounded by
// the port's connect and answer timeouts.
platform::PortState ProbeRemotePort(const std::string& url, std::string* detail);

}  // namespace tarnctl

#endif  // TARNCTL_REMOTE_PORT_H
