// Probing a remote port (see remote_port.h).
#include "remote_port.h"

#include <cstring>

#include "tarn/channel/net_socket.h"
#include "tarn/channel/rfc2217_port.h"

namespace tarnctl {

platform::PortState ProbeRemotePort(const std::string& url, std::string* detail) {
  detail->clear();
  tarn::Rfc2217Port port(tarn::CreatePlatformNetSocket());
  if (port.Open(url.c_str())) {
    port.Close();
    return platform::PortState::kFree;
  }
  const char* reason = port.LastErrorReason();
  if (reason != nullptr && std::strcmp(reason, "port busy") == 0) return platform::PortState::kBusy;
  *detail = reason != nullptr ? reason : "cannot connect";
  return platform::PortState::kCannotOpen;
}

}  // namespace tarnctl
