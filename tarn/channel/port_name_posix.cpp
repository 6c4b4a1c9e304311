#include <errno.h>

#include <string>

#include "comrt/comrt.h"
#include "serial/port_name.h"
#include "serial/remote_port.h"
#include "tarn/channel/port_name.h"
#include "tarn/channel/serial_port.h"

// The runtime's resolver is optional here: a weak reference stays null in a
// process without the runtime (the channel's own tests), and the default
// mapping applies.
#pragma weak comrt_ResolvePortName

namespace tarn {

int ResolvePortName(const char* name, std::string* path) {
  if (name == nullptr || name[0] == '\0') return ENOENT;
  if (name[0] == '/') {
    *path = name;
    return 0;
  }
  const serial::PortName port = serial::ParsePortName(name);
  if (port.kind == serial::PortNameKind::kBadPort) return ERANGE;
  if (port.kind == serial::PortNameKind::kNotAPort) {
    *path = std::string("/dev/") + name;
    return 0;
  }
  if (comrt_ResolvePortName == nullptr) {
    *path = serial::DefaultPortDevice(port.number);
    return 0;
  }
  char buffer[4096];
  if (comrt_ResolvePortName(name, buffer, sizeof buffer) != ERROR_SUCCESS) return EBADMSG;
  *path = buffer;
  return 0;
}

// A remote name as it is; a COMn name whose port map entry is a remote name.
bool RemoteTargetOf(const char* name, std::string* url) {
  if (name == nullptr) return false;
  if (serial::IsRemotePortName(name)) {
    *url = name;
    return true;
  }
  if (serial::ParsePortName(name).kind != serial::PortNameKind::kPort) return false;
  std::string path;
  if (ResolvePortName(name, &path) != 0 || !serial::IsRemotePortName(path)) return false;
  *url = path;
  return true;
}

}  // namespace tarn
